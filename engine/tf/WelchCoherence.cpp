#include "engine/tf/WelchCoherence.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr double lowestHz = 100.0;
constexpr double highestHz = 10000.0;

} // namespace

void WelchCoherence::setTemplate(const std::vector<float> &templateSamples, std::size_t length,
                                 double sampleRate)
{
    length_ = length;
    segment_ = (2 * length + 8) / 9;
    if (length < minLength || templateSamples.size() < length || !(sampleRate > 0.0)
        || segment_ < minSegment) {
        segment_ = 0;
        return;
    }
    const std::size_t size = std::bit_ceil(segment_);
    plan_ = Radix2Plan(size);
    firstBin_ = std::max<std::size_t>(std::size_t(std::ceil(double(size) * lowestHz / sampleRate)),
                                      1);
    lastBin_ = std::min(size / 2 - 1, std::size_t(double(size) * highestHz / sampleRate));

    // Symmetric Hann window over the segment.
    window_.resize(segment_);
    for (std::size_t n = 0; n < segment_; ++n)
        window_[n]
                = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * double(n) / double(segment_ - 1)));

    templateSpectra_.resize(segmentCount);
    templatePower_.assign(size / 2 + 1, 0.0);
    for (int s = 0; s < segmentCount; ++s) {
        transformSegment(templateSamples.data(), std::size_t(s) * (segment_ / 2),
                         templateSpectra_[s]);
        for (std::size_t k = firstBin_; k <= lastBin_; ++k)
            templatePower_[k] += std::norm(templateSpectra_[s][k]);
    }
}

void WelchCoherence::transformSegment(const float *x, std::size_t start,
                                      std::vector<std::complex<double>> &spectrum)
{
    // The last segment reaches a few samples past the period when the segment length is even.
    windowed_.assign(segment_, 0.0);
    const std::size_t available = start < length_ ? std::min(segment_, length_ - start) : 0;
    for (std::size_t n = 0; n < available; ++n)
        windowed_[n] = window_[n] * double(x[start + n]);
    plan_.realForward(windowed_.data(), segment_, spectrum);
}

double WelchCoherence::score(const float *aligned)
{
    if (segment_ == 0)
        return -1.0;
    cross_.assign(lastBin_ + 1, {});
    power_.assign(lastBin_ + 1, 0.0);
    for (int s = 0; s < segmentCount; ++s) {
        transformSegment(aligned, std::size_t(s) * (segment_ / 2), spectrum_);
        for (std::size_t k = firstBin_; k <= lastBin_; ++k) {
            cross_[k] += std::conj(templateSpectra_[s][k]) * spectrum_[k];
            power_[k] += std::norm(spectrum_[k]);
        }
    }
    double sum = 0.0;
    int counted = 0;
    for (std::size_t k = firstBin_; k <= lastBin_; ++k) {
        const double product = templatePower_[k] * power_[k];
        if (product > 0.0) {
            sum += std::abs(cross_[k]) / std::sqrt(product);
            ++counted;
        }
    }
    return counted > 0 ? sum / counted : -1.0;
}

double blockCoherenceScore(const std::vector<float> &templateSamples, const float *aligned,
                           std::size_t length, double sampleRate)
{
    WelchCoherence coherence;
    coherence.setTemplate(templateSamples, length, sampleRate);
    return coherence.score(aligned);
}
