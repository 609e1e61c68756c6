#include "engine/tf/BlockAligner.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t minTemplate = 1024;
constexpr double silenceRms = 1e-7;
constexpr double minPeriodQuality = 0.15;
constexpr double minCorrelation = 0.08;

// Σ a[k]·b[k] in double, in four independent sums so that the additions need not wait on each
// other.
double dot(const float *a, const float *b, std::size_t n)
{
    double s[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        for (int j = 0; j < 4; ++j)
            s[j] += double(a[k + j]) * double(b[k + j]);
    }
    for (; k < n; ++k)
        s[0] += double(a[k]) * double(b[k]);
    return (s[0] + s[1]) + (s[2] + s[3]);
}

} // namespace

void BlockAligner::setTemplate(std::vector<float> samples)
{
    template_ = std::move(samples);
    templateEnergy_ = dot(template_.data(), template_.data(), template_.size());
    correlation_.setTemplate(template_.data(), template_.size());
}

int64_t BlockAligner::minimumBlock(int64_t length, double phoneRate, double generatorRate)
{
    // The period and a quarter of it more, counted in phone samples.
    return int64_t(std::ceil(double(length + length / 4) * phoneRate / generatorRate));
}

BlockAlignment BlockAligner::align(const float *block, std::size_t length, double phoneRate,
                                   double generatorRate)
{
    BlockAlignment result;
    const auto t = int64_t(template_.size());
    const auto b = int64_t(length);
    if (template_.size() < minTemplate || !(phoneRate > 0.0) || !(generatorRate > 0.0)
        || b < minimumBlock(t, phoneRate, generatorRate)) {
        result.reason = BlockAlignment::InputSize;
        return result;
    }
    if (holdsSilence(block, length, phoneRate)) {
        result.reason = BlockAlignment::Silence;
        return result;
    }

    const double expected = double(t) * phoneRate / generatorRate;
    const PeriodEstimate period = correlation_.period(block, length, expected);
    result.periodQuality = float(period.quality);
    if (period.period <= 0.0 || period.quality < minPeriodQuality) {
        result.reason = BlockAlignment::CorrelationUnreliable;
        return result;
    }
    result.drift = period.period / expected;
    result.ppm = (result.drift - 1.0) * 1e6;
    if (!std::isfinite(result.ppm) || std::abs(result.ppm) > maxPpm) {
        result.reason = BlockAlignment::RatioOutOfRange;
        return result;
    }

    // The template is looked for on the generator's grid: on the phone's, a long sweep would
    // match best a few samples off by the clock difference alone, beyond the fine shifts.
    const double step = result.drift * phoneRate / generatorRate;
    onGeneratorGrid(block, length, step);
    const auto gridLength = int64_t(grid_.size());
    const LagEstimate lag = correlation_.templateLag(grid_.data(), grid_.size(), 0, gridLength);
    if (lag.lag < 0 || lag.correlation < minCorrelation) {
        result.reason = BlockAlignment::CorrelationUnreliable;
        return result;
    }
    const int64_t first = lag.lag - fineShifts;
    if (first < 0 || first + t + 2 * fineShifts > gridLength) {
        result.reason = BlockAlignment::InputSize;
        return result;
    }
    const auto [shift, r] = bestShift(first);
    if (std::abs(r) < minCorrelation) {
        result.reason = BlockAlignment::CorrelationUnreliable;
        return result;
    }
    const double start = double(first + shift) + fractionalShift(first, shift, r);
    readPeriod(block, length, start * step, step, std::min(1.0, generatorRate / phoneRate));
    const double aligned
            = dot(template_.data(), aligned_.data(), template_.size())
              / std::sqrt(templateEnergy_ * dot(aligned_.data(), aligned_.data(), aligned_.size()));
    result.ok = true;
    result.coarseLag = std::llround(double(lag.lag) * step);
    result.fineCorrelation = float(std::abs(aligned));
    result.inverted = aligned < 0.0;
    return result;
}

double BlockAligner::correlationAt(std::size_t at) const
{
    const std::size_t t = template_.size();
    const double denominator
            = std::sqrt(templateEnergy_ * (gridSquares_[at + t] - gridSquares_[at]));
    return denominator > 0.0 ? dot(template_.data(), grid_.data() + at, t) / denominator : 0.0;
}

double BlockAligner::fractionalShift(int64_t first, int shift, double r) const
{
    // The peak of a parabola through the best shift's correlation and its neighbours'.
    if (shift == 0 || shift == 2 * fineShifts)
        return 0.0;
    const double sign = r < 0.0 ? -1.0 : 1.0;
    const double before = sign * correlationAt(std::size_t(first + shift - 1));
    const double after = sign * correlationAt(std::size_t(first + shift + 1));
    const double curvature = before - 2.0 * sign * r + after;
    if (!(curvature < 0.0))
        return 0.0;
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

void BlockAligner::readPeriod(const float *block, std::size_t length, double start, double step,
                              double cutoff)
{
    if (interpolator_.cutoff() != std::clamp(cutoff, 0.05, 1.0))
        interpolator_ = SincInterpolator(cutoff);
    aligned_.resize(template_.size());
    for (std::size_t k = 0; k < aligned_.size(); ++k)
        aligned_[k] = interpolator_.at(block, length, start + double(k) * step);
}

bool BlockAligner::holdsSilence(const float *block, std::size_t length, double phoneRate) const
{
    const auto segment = std::size_t(std::max<int64_t>(int64_t(phoneRate) / 100, 1));
    const std::size_t segments = length / segment;
    if (segments < 8)
        return false;
    int quiet = 0;
    for (std::size_t s = 0; s < segments; ++s) {
        const float *x = block + s * segment;
        const double rms = std::sqrt(dot(x, x, segment) / double(segment));
        quiet = rms < silenceRms ? quiet + 1 : 0;
        if (quiet >= silentSegments)
            return true;
    }
    return false;
}

void BlockAligner::onGeneratorGrid(const float *block, std::size_t length, double step)
{
    // Samples 0, step, 2·step, … of the block, interpolated linearly.
    const auto count = std::size_t(double(length - 1) / step);
    grid_.resize(count);
    gridSquares_.assign(count + 1, 0.0);
    for (std::size_t j = 0; j < count; ++j) {
        const double position = double(j) * step;
        const auto k = std::min(std::size_t(position), length - 2);
        const double fraction = position - double(k);
        const float value = float(block[k] + fraction * (block[k + 1] - block[k]));
        grid_[j] = value;
        gridSquares_[j + 1] = gridSquares_[j] + double(value) * double(value);
    }
}

std::pair<int, double> BlockAligner::bestShift(int64_t first) const
{
    int best = 0;
    double bestR = 0.0;
    for (int m = 0; m <= 2 * fineShifts; ++m) {
        const double r = correlationAt(std::size_t(first + m));
        if (std::abs(r) > std::abs(bestR)) {
            best = m;
            bestR = r;
        }
    }
    return {best, bestR};
}
