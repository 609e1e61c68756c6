// Times the measurement's dual-channel transform against FFTW's single-precision real transform
// of the same size. FourierTransform::calculate turns two real blocks (measurement and reference)
// into two spectra; its runs print their time as a multiple of FFTW doing the same two real
// transforms ("x_fftw") and of a single FFTW real transform ("x_fftw_one"). Those divide by the
// FFTW runs' means; BM_PairedWithFftw takes the two turn by turn instead, each pair at the same
// moment of a shared machine, and gives the median and 90th percentile of the pairs' ratios.
#include "bench/BenchSupport.h"
#include "engine/dsp/Deconvolution.h"
#include "engine/dsp/FourierTransform.h"

#include <fftw3.h>

#include <chrono>
#include <map>

namespace {

// Mean seconds per iteration of FFTW's runs by transform count and size, so the engine's runs
// can report ratios.
std::map<std::pair<int, int>, double> &fftwSeconds()
{
    static std::map<std::pair<int, int>, double> seconds;
    return seconds;
}

void reportRatio(benchmark::State &state, const char *name, int transforms, double seconds)
{
    const auto found = fftwSeconds().find({transforms, int(state.range(0))});
    if (found != fftwSeconds().end() && found->second > 0.0)
        state.counters[name] = seconds / found->second;
}

template<typename Body>
double timeIterations(benchmark::State &state, Body &&body)
{
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return state.iterations() ? total / double(state.iterations()) : 0.0;
}

// FFTW, planned with FFTW_MEASURE once: one real transform (the figure the goal is stated
// against), or both channels as the engine transforms them.
void BM_Fftw(benchmark::State &state, int transforms)
{
    const int n = int(state.range(0));
    float *blocks[2] = {fftwf_alloc_real(n), fftwf_alloc_real(n)};
    fftwf_complex *spectra[2] = {fftwf_alloc_complex(n / 2 + 1), fftwf_alloc_complex(n / 2 + 1)};
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, blocks[0], spectra[0], FFTW_MEASURE);
    for (int t = 0; t < 2; ++t)
        std::ranges::copy(noise(n, unsigned(t + 1)), blocks[t]);
    fftwSeconds()[{transforms, n}] = timeIterations(state, [&] {
        for (int t = 0; t < transforms; ++t) {
            fftwf_execute_dft_r2c(plan, blocks[t], spectra[t]);
            benchmark::DoNotOptimize(spectra[t][1][0]);
        }
    });
    fftwf_destroy_plan(plan);
    for (int t = 0; t < 2; ++t) {
        fftwf_free(blocks[t]);
        fftwf_free(spectra[t]);
    }
}

void BM_FourierTransformCalculate(benchmark::State &state)
{
    const int n = int(state.range(0));
    FourierTransform transform{quint32(n)};
    transform.setWindowType(WindowFunction::Hann);
    transform.prepare();
    const QList<float> data = noise(n, 1), reference = noise(n, 2);
    for (int i = 0; i < n; ++i)
        transform.add(data[i], reference[i]);
    const double seconds = timeIterations(state, [&] {
        transform.calculate();
        benchmark::DoNotOptimize(transform.dataBin(1));
    });
    reportRatio(state, "x_fftw", 2, seconds);
    reportRatio(state, "x_fftw_one", 1, seconds);
}

// One FFTW run of the two real transforms, then one of the engine's, and so on; each pair's
// ratio counts once.
void BM_PairedWithFftw(benchmark::State &state)
{
    const int n = int(state.range(0));
    float *blocks[2] = {fftwf_alloc_real(n), fftwf_alloc_real(n)};
    fftwf_complex *spectra[2] = {fftwf_alloc_complex(n / 2 + 1), fftwf_alloc_complex(n / 2 + 1)};
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, blocks[0], spectra[0], FFTW_MEASURE);
    const QList<float> data = noise(n, 1), reference = noise(n, 2);
    std::ranges::copy(data, blocks[0]);
    std::ranges::copy(reference, blocks[1]);
    FourierTransform transform{quint32(n)};
    transform.setWindowType(WindowFunction::Hann);
    transform.prepare();
    for (int i = 0; i < n; ++i)
        transform.add(data[i], reference[i]);

    // Enough repetitions inside one timed turn that the clock's own cost does not count.
    const int repeats = std::max(1, 65536 / n);
    std::vector<double> ratios;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int r = 0; r < repeats; ++r) {
            for (int t = 0; t < 2; ++t) {
                fftwf_execute_dft_r2c(plan, blocks[t], spectra[t]);
                benchmark::DoNotOptimize(spectra[t][1][0]);
            }
        }
        const auto fftwDone = std::chrono::steady_clock::now();
        for (int r = 0; r < repeats; ++r) {
            transform.calculate();
            benchmark::DoNotOptimize(transform.dataBin(1));
        }
        const auto engineDone = std::chrono::steady_clock::now();
        const double fftw = std::chrono::duration<double>(fftwDone - start).count();
        const double engine = std::chrono::duration<double>(engineDone - fftwDone).count();
        state.SetIterationTime(engine / repeats);
        ratios.push_back(engine / fftw);
    }
    state.counters["x_fftw_median"] = percentile(ratios, 0.5);
    state.counters["x_fftw_p90"] = percentile(ratios, 0.9);
    fftwf_destroy_plan(plan);
    for (int t = 0; t < 2; ++t) {
        fftwf_free(blocks[t]);
        fftwf_free(spectra[t]);
    }
}

// The impulse response of one tick: division of the spectra, inverse pass, peak search.
void BM_DeconvolutionFromSource(benchmark::State &state)
{
    const int n = int(state.range(0));
    FourierTransform transform{quint32(n)};
    transform.prepare();
    Deconvolution deconvolution{quint32(n)};
    const QList<float> data = noise(n, 1);
    for (int i = 0; i < n; ++i)
        transform.add(data[(i + n - 10) % n], data[i]);
    transform.calculate();
    timeIterations(state, [&] {
        deconvolution.calculate(&transform);
        benchmark::DoNotOptimize(deconvolution.peakIndex());
    });
}

} // namespace

void sizes(benchmark::internal::Benchmark *b)
{
    b->RangeMultiplier(2)->Range(1024, 65536)->Unit(benchmark::kMicrosecond);
}

// The FFTW runs come first: the engine's runs read their times.
BENCHMARK_CAPTURE(BM_Fftw, OneRealTransform, 1)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Fftw, TwoRealTransforms, 2)->Apply(sizes);
BENCHMARK(BM_FourierTransformCalculate)->Apply(sizes);
BENCHMARK(BM_PairedWithFftw)->Apply(sizes)->UseManualTime()->Iterations(2000);
BENCHMARK(BM_DeconvolutionFromSource)->Apply(sizes);

BENCHMARK_MAIN();
