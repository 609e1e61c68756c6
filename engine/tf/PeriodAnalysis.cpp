#include "engine/tf/PeriodAnalysis.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace {

// Bins of the template 100 dB below its loudest are divided as if they were that loud.
constexpr double deconvolutionFloor = 1e-10;

} // namespace

std::complex<float> PeriodBin::transfer() const
{
    const std::complex<float> h = referencePower > 0.0f ? cross / referencePower : 0.0f;
    return std::isfinite(h.real()) && std::isfinite(h.imag()) ? h : 0.0f;
}

float PeriodBin::amplitude() const
{
    return std::sqrt(2.0f * dataPower);
}

float PeriodBin::coherence() const
{
    const float powers = dataPower * referencePower;
    return powers > 0.0f ? std::min(std::abs(cross) / std::sqrt(powers), 1.0f) : 0.0f;
}

void PeriodAnalysis::setTemplate(std::vector<float> samples)
{
    template_ = std::move(samples);
    plan_ = Radix2Plan();
    templateSpectrum_.clear();
}

void PeriodAnalysis::prepare(std::size_t size)
{
    if (plan_.size() == size)
        return;
    plan_ = Radix2Plan(size);
    plan_.realForward(template_.data(), template_.size(), templateSpectrum_);
    double loudest = 0.0;
    for (const auto &x : templateSpectrum_)
        loudest = std::max(loudest, std::norm(x));
    floor_ = std::max(loudest * deconvolutionFloor, std::numeric_limits<double>::min());
}

void PeriodAnalysis::analyse(const float *period, uint32_t fftSize)
{
    if (template_.empty() || fftSize < 2)
        return;
    prepare(std::max<std::size_t>(std::bit_ceil(template_.size()), fftSize));
    plan_.realForward(period, template_.size(), spectrum_);
    gatherBins(fftSize);
    computeImpulse(fftSize);
}

void PeriodAnalysis::gatherBins(uint32_t fftSize)
{
    // Powers per transform bin scaled so that a record bin holds what a transform of the FFT
    // size would: the period's mean square spread over its bins.
    const std::size_t m = plan_.size();
    const std::size_t perBin = m / fftSize;
    const double scale = 1.0 / (double(m) * double(template_.size()));
    bins_.resize(fftSize / 2);
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        const std::size_t centre = i * perBin;
        const std::size_t first = centre >= perBin / 2 ? centre - perBin / 2 : 0;
        const std::size_t last = std::max(centre + perBin / 2, centre + 1);
        double data = 0.0, reference = 0.0;
        std::complex<double> cross;
        for (std::size_t j = first; j < last && j <= m / 2; ++j) {
            data += std::norm(spectrum_[j]);
            reference += std::norm(templateSpectrum_[j]);
            cross += spectrum_[j] * std::conj(templateSpectrum_[j]);
        }
        bins_[i] = {std::complex<float>(cross * scale), float(data * scale),
                    float(reference * scale)};
    }
}

void PeriodAnalysis::computeImpulse(uint32_t fftSize)
{
    const std::size_t m = plan_.size();
    ratio_.resize(spectrum_.size());
    for (std::size_t j = 0; j < spectrum_.size(); ++j)
        ratio_[j] = spectrum_[j] * std::conj(templateSpectrum_[j])
                    / std::max(std::norm(templateSpectrum_[j]), floor_);
    plan_.realInverse(ratio_.data(), ratio_.size(), response_);

    std::size_t peak = 0;
    for (std::size_t j = 1; j < m; ++j) {
        if (std::abs(response_[j]) > std::abs(response_[peak]))
            peak = j;
    }
    peakLag_ = peak > m / 2 ? int64_t(peak) - int64_t(m) : int64_t(peak);

    const uint32_t half = fftSize / 2;
    impulse_.resize(fftSize);
    for (uint32_t i = 0; i < fftSize; ++i)
        impulse_[i] = float(response_[i <= half ? i : m - (fftSize - i)]);
}
