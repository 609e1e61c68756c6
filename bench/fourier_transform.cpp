// Times the measurement's dual-channel transform against FFTW's single-precision real transform
// of the same size. FourierTransform::calculate turns two real blocks (measurement and reference)
// into two spectra; its runs print their time as a multiple of FFTW doing the same two real
// transforms ("x_fftw") and of a single FFTW real transform ("x_fftw_one").
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
BENCHMARK(BM_DeconvolutionFromSource)->Apply(sizes);

BENCHMARK_MAIN();
