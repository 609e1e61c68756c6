// Per-tick cost of the per-bin estimators at the measurement's bin counts (N/2 for N = 1024 to
// 65536): the coherence update and one smoothing step of a complex filter per bin, as the
// measurement runs them (a bank of filters side by side).
#include "bench/BenchSupport.h"
#include "engine/dsp/BesselBank.h"
#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Coherence.h"
#include "engine/dsp/FourierTransform.h"

namespace {

void BM_CoherenceProcess(benchmark::State &state)
{
    const quint32 n = quint32(state.range(0));
    FourierTransform transform(n);
    transform.setWindowType(WindowFunction::Hann);
    transform.prepare();
    const QList<float> data = noise(n, 1), reference = noise(n, 2);
    for (quint32 i = 0; i < n; ++i)
        transform.add(data[i], reference[i]);
    transform.calculate();
    Coherence coherence;
    coherence.setDepth(21);
    coherence.setSize(n / 2);
    std::vector<BinRecord> records(n / 2);
    for (auto _ : state) {
        coherence.process(records, transform);
        benchmark::DoNotOptimize(records[1].coherence);
    }
}

void BM_ComplexSmoothingPerBin(benchmark::State &state)
{
    const quint32 bins = quint32(state.range(0)) / 2;
    Filter::BesselBank filters(2);
    filters.resize(bins);
    std::vector<float> re(bins, 0.5f), im(bins, -0.25f), outRe(bins), outIm(bins);
    const float *input[] = {re.data(), im.data()};
    float *output[] = {outRe.data(), outIm.data()};
    for (auto _ : state) {
        filters.beginTick();
        filters.process(0, bins, input, output);
        benchmark::DoNotOptimize(outRe[1]);
    }
}

} // namespace

BENCHMARK(BM_CoherenceProcess)
        ->RangeMultiplier(4)
        ->Range(1024, 65536)
        ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComplexSmoothingPerBin)
        ->RangeMultiplier(4)
        ->Range(1024, 65536)
        ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
