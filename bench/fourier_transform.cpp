// Times the measurement's dual-channel transform against FFTW's single-precision real transform
// of the same size. FourierTransform::calculate turns two real blocks (measurement and reference)
// into two spectra; its runs print their time as a multiple of FFTW doing the same two real
// transforms ("x_fftw") and of a single FFTW real transform ("x_fftw_one").
#include "engine/Deconvolution.h"
#include "engine/FourierTransform.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <map>
#include <random>

namespace {

constexpr int minSize = 1024;
constexpr int maxSize = 65536;

// Mean seconds per iteration of FFTW's runs by size, so the engine's runs can report ratios.
std::map<int, double>& fftwSeconds()
{
    static std::map<int, double> seconds;
    return seconds;
}

std::map<int, double>& fftwOneSeconds()
{
    static std::map<int, double> seconds;
    return seconds;
}

void reportRatio(benchmark::State& state, const char* name, const std::map<int, double>& fftw,
                 double seconds)
{
    const auto found = fftw.find(int(state.range(0)));
    if (found != fftw.end() && found->second > 0.0)
        state.counters[name] = seconds / found->second;
}

void fillNoise(float* block, int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    for (int i = 0; i < n; ++i)
        block[i] = noise(generator);
}

template <typename Body>
double timeIterations(benchmark::State& state, Body&& body)
{
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return state.iterations() ? total / double(state.iterations()) : 0.0;
}

// FFTW, planned with FFTW_MEASURE once, transforming both channels as the engine does.
void BM_FftwTwoRealTransforms(benchmark::State& state)
{
    const int n = int(state.range(0));
    float* data = fftwf_alloc_real(n);
    float* reference = fftwf_alloc_real(n);
    fftwf_complex* dataSpectrum = fftwf_alloc_complex(n / 2 + 1);
    fftwf_complex* referenceSpectrum = fftwf_alloc_complex(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, data, dataSpectrum, FFTW_MEASURE);
    fillNoise(data, n, 1);
    fillNoise(reference, n, 2);
    fftwSeconds()[n] = timeIterations(state, [&] {
        fftwf_execute_dft_r2c(plan, data, dataSpectrum);
        fftwf_execute_dft_r2c(plan, reference, referenceSpectrum);
        benchmark::DoNotOptimize(dataSpectrum[1][0]);
        benchmark::DoNotOptimize(referenceSpectrum[1][0]);
    });
    fftwf_destroy_plan(plan);
    fftwf_free(data);
    fftwf_free(reference);
    fftwf_free(dataSpectrum);
    fftwf_free(referenceSpectrum);
}

// FFTW, one real transform: the figure the goal is stated against.
void BM_FftwOneRealTransform(benchmark::State& state)
{
    const int n = int(state.range(0));
    float* block = fftwf_alloc_real(n);
    fftwf_complex* spectrum = fftwf_alloc_complex(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, block, spectrum, FFTW_MEASURE);
    fillNoise(block, n, 1);
    fftwOneSeconds()[n] = timeIterations(state, [&] {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(spectrum[1][0]);
    });
    fftwf_destroy_plan(plan);
    fftwf_free(block);
    fftwf_free(spectrum);
}

void BM_FourierTransformCalculate(benchmark::State& state)
{
    const int n = int(state.range(0));
    FourierTransform transform{quint32(n)};
    transform.setWindowType(WindowFunction::Hann);
    transform.prepare();
    std::vector<float> data(n), reference(n);
    fillNoise(data.data(), n, 1);
    fillNoise(reference.data(), n, 2);
    for (int i = 0; i < n; ++i)
        transform.add(data[i], reference[i]);
    const double seconds = timeIterations(state, [&] {
        transform.calculate();
        benchmark::DoNotOptimize(transform.dataBin(1));
    });
    reportRatio(state, "x_fftw", fftwSeconds(), seconds);
    reportRatio(state, "x_fftw_one", fftwOneSeconds(), seconds);
}

// The impulse response of one tick: division of the spectra, inverse pass, peak search.
void BM_DeconvolutionFromSource(benchmark::State& state)
{
    const int n = int(state.range(0));
    FourierTransform transform{quint32(n)};
    transform.prepare();
    Deconvolution deconvolution{quint32(n)};
    std::vector<float> data(n);
    fillNoise(data.data(), n, 1);
    for (int i = 0; i < n; ++i)
        transform.add(data[(i + n - 10) % n], data[i]);
    transform.calculate();
    timeIterations(state, [&] {
        deconvolution.calculate(&transform);
        benchmark::DoNotOptimize(deconvolution.peakIndex());
    });
}

}  // namespace

BENCHMARK(BM_FftwOneRealTransform)->RangeMultiplier(2)->Range(minSize, maxSize)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftwTwoRealTransforms)->RangeMultiplier(2)->Range(minSize, maxSize)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FourierTransformCalculate)->RangeMultiplier(2)->Range(minSize, maxSize)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeconvolutionFromSource)->RangeMultiplier(2)->Range(minSize, maxSize)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
