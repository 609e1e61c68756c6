#pragma once

#include "engine/dsp/Radix2Fft.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// One record bin's sums over its band of a whole aligned period, scaled so that the powers are
// what a transform of the records' FFT size would hold: the measurement's D and the template's
// R summed as Σ D·conj(R), Σ |D|² and Σ |R|².
struct PeriodBin
{
    std::complex<float> cross;
    float dataPower = 0.0f;
    float referencePower = 0.0f;

    // The transfer function, Σ D·conj(R) / Σ |R|² (phase in the usual sense: positive when the
    // measurement leads); 0 without reference.
    std::complex<float> transfer() const;
    // The RMS of the measurement within the band.
    float amplitude() const;
    // The coherence of measurement and template within the band.
    float coherence() const;
};

// The transfer function of one aligned period of the test signal against its template, from a
// transform of the whole period (zero-padded to a power of two, and to at least the FFT size of
// the records), so that every part of a long sweep is measured, its low end included. The values
// are gathered onto the records' bins of the FFT size (each record bin sums the transform's
// bins of its band) and the impulse response is cut to the records' lags.
class PeriodAnalysis
{
public:
    void setTemplate(std::vector<float> samples);

    // Analyses a period as long as the template, for records of `fftSize` / 2 bins.
    void analyse(const float *period, uint32_t fftSize);

    const std::vector<PeriodBin> &bins() const { return bins_; }
    // The impulse response cut to the records' N lags, laid out as a transform of N would hold
    // it: lag i at i for i ≤ N/2, lag i − N above.
    float impulseAt(uint32_t i) const { return impulse_[i]; }
    std::size_t impulseSize() const { return impulse_.size(); }
    // The lag of the impulse response's largest magnitude, in samples; positive when the
    // measurement lags the template.
    int64_t peakLag() const { return peakLag_; }
    std::size_t transformSize() const { return plan_.size(); }

private:
    void prepare(std::size_t size);
    void gatherBins(uint32_t fftSize);
    void computeImpulse(uint32_t fftSize);

    std::vector<float> template_;
    Radix2Plan plan_;
    std::vector<std::complex<double>> templateSpectrum_;
    double floor_ = 0.0; // the smallest template power a deconvolution divides by
    std::vector<std::complex<double>> spectrum_;
    std::vector<std::complex<double>> ratio_;
    std::vector<double> response_;
    std::vector<PeriodBin> bins_;
    std::vector<float> impulse_;
    int64_t peakLag_ = 0;
};
