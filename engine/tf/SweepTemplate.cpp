#include "engine/tf/SweepTemplate.h"

#include <cmath>
#include <numbers>

int64_t sweepLength(float duration, uint32_t rate)
{
    return int64_t(std::floor(duration * float(rate) + 0.5f));
}

std::vector<float> sweepTemplate(float start, float end, float duration, float amplitude,
                                 uint32_t rate)
{
    const int64_t length = sweepLength(duration, rate);
    const double logRatio = std::log(double(end) / double(start));
    if (length < 1 || rate == 0 || !(duration > 0.0f) || !std::isfinite(logRatio)
        || logRatio == 0.0)
        return {};
    std::vector<float> samples(std::size_t(length), 0.0f);
    const double factor = 2.0 * std::numbers::pi * double(start) * double(duration) / logRatio;
    for (int64_t n = 0; n < length; ++n) {
        const double t = double(n) / double(rate);
        const double phase = factor * (std::exp(t * logRatio / double(duration)) - 1.0);
        samples[std::size_t(n)] = float(double(amplitude) * std::sin(phase));
    }
    return samples;
}
