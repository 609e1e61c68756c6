#pragma once

#include "engine/dsp/Radix2Fft.h"

#include <complex>
#include <cstddef>
#include <vector>

// How well an aligned period matches its template: the magnitude coherence of the two, averaged
// over the bins from 100 Hz to 10 kHz, from Welch's averages over eight half-overlapping
// Hann-windowed segments. 1 for a clean capture, lower as noise, distortion or a misalignment
// grows. The template's segment spectra are computed once per template.
class WelchCoherence
{
public:
    static constexpr int segmentCount = 8;
    static constexpr std::size_t minLength = 4096;
    static constexpr std::size_t minSegment = 512;

    // Prepares for periods of `length` samples at `sampleRate` against the template.
    void setTemplate(const std::vector<float> &templateSamples, std::size_t length,
                     double sampleRate);
    // The score of a period of the prepared length in [0, 1]; −1 when it cannot score (a period
    // shorter than 4096 samples, a template shorter than the period, no sample rate, no bin
    // with signal in both).
    double score(const float *aligned);

private:
    // The windowed segment starting at `start`; samples past the period count as 0.
    void transformSegment(const float *x, std::size_t start,
                          std::vector<std::complex<double>> &spectrum);

    std::size_t length_ = 0;
    std::size_t segment_ = 0; // 0 when periods cannot be scored
    std::size_t firstBin_ = 0;
    std::size_t lastBin_ = 0;
    Radix2Plan plan_;
    std::vector<double> window_;
    std::vector<double> windowed_;
    std::vector<std::vector<std::complex<double>>> templateSpectra_;
    std::vector<double> templatePower_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<std::complex<double>> cross_;
    std::vector<double> power_;
};

// One-off form for a single period.
double blockCoherenceScore(const std::vector<float> &templateSamples, const float *aligned,
                           std::size_t length, double sampleRate);
