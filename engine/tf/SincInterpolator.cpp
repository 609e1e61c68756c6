#include "engine/tf/SincInterpolator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kaiserBeta = 8.0;

// The modified Bessel function of the first kind, order 0, by its power series.
double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64 && term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

SincInterpolator::SincInterpolator(double cutoff)
    : cutoff_(std::clamp(cutoff, 0.05, 1.0))
    , halfTaps_(int(std::ceil(baseHalfTaps / cutoff_)))
{
    const int taps = 2 * halfTaps_;
    table_.resize(std::size_t(phases + 1) * std::size_t(taps));
    const double window = besselI0(kaiserBeta);
    for (int p = 0; p <= phases; ++p) {
        const double fraction = double(p) / phases;
        for (int j = 0; j < taps; ++j) {
            // Distance from the sample under tap j to the position read.
            const double x = double(j - halfTaps_ + 1) - fraction;
            const double edge = x / double(halfTaps_);
            const double kaiser
                    = besselI0(kaiserBeta * std::sqrt(std::max(0.0, 1.0 - edge * edge))) / window;
            const double arg = std::numbers::pi * x * cutoff_;
            const double sinc = x == 0.0 ? 1.0 : std::sin(arg) / arg;
            table_[std::size_t(p) * std::size_t(taps) + std::size_t(j)]
                    = float(cutoff_ * sinc * kaiser);
        }
    }
}

float SincInterpolator::at(const float *x, std::size_t length, double position) const
{
    const double whole = std::floor(position);
    const auto row = std::size_t(std::lround((position - whole) * phases));
    const int taps = 2 * halfTaps_;
    const float *coefficients = table_.data() + row * std::size_t(taps);
    const auto first = int64_t(whole) - halfTaps_ + 1;
    float sum = 0.0f;
    if (first >= 0 && first + taps <= int64_t(length)) {
        const float *samples = x + first;
        for (int j = 0; j < taps; ++j)
            sum += coefficients[j] * samples[j];
        return sum;
    }
    for (int j = 0; j < taps; ++j) {
        const int64_t at = first + j;
        if (at >= 0 && at < int64_t(length))
            sum += coefficients[j] * x[at];
    }
    return sum;
}
