#include "engine/tf/BlockCorrelation.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr std::size_t minBlock = 1024;
constexpr int64_t minSpan = 8;

// Half the width of the period search: the clock range plus a quarter, at least 8 samples.
int64_t searchSpan(double expected)
{
    return std::max(int64_t(std::ceil(expected * BlockCorrelation::searchPpm * 1.25 / 1e6)),
                    minSpan);
}

void prefixSums(const float *x, std::size_t n, std::vector<double> &sum,
                std::vector<double> &sumSquares)
{
    sum.assign(n + 1, 0.0);
    sumSquares.assign(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        sum[i + 1] = sum[i] + double(x[i]);
        sumSquares[i + 1] = sumSquares[i] + double(x[i]) * double(x[i]);
    }
}

// out[k] = Σ x[i + k]·y[i] from the two spectra (y's conjugated), circularly over the plan's
// size; the product is formed in place in `x`.
void correlate(const Radix2Plan &plan, std::vector<std::complex<double>> &x,
               const std::vector<std::complex<double>> &y, std::vector<double> &out)
{
    for (std::size_t k = 0; k < x.size(); ++k)
        x[k] *= std::conj(y[k]);
    plan.realInverse(x.data(), x.size(), out);
}

void usePlan(Radix2Plan &plan, std::size_t size)
{
    if (plan.size() != size)
        plan = Radix2Plan(size);
}

} // namespace

void BlockCorrelation::setTemplate(const float *samples, std::size_t length)
{
    template_.assign(samples, samples + length);
    templateEnergy_ = 0.0;
    for (float v : template_)
        templateEnergy_ += double(v) * double(v);
    templateSpectrum_.clear();
}

double BlockCorrelation::pearson(std::size_t p) const
{
    const std::size_t n = blockLength_ - p;
    const double count = double(n);
    const double sx = sum_[n], sy = sum_[blockLength_] - sum_[p];
    const double sxx = sumSquares_[n], syy = sumSquares_[blockLength_] - sumSquares_[p];
    const double covariance = correlation_[p - firstCandidate_] - sx * sy / count;
    const double vx = std::max(sxx - sx * sx / count, 0.0);
    const double vy = std::max(syy - sy * sy / count, 0.0);
    const double denominator = std::sqrt(vx * vy);
    return denominator > 0.0 ? covariance / denominator : -1.0;
}

PeriodEstimate BlockCorrelation::period(const float *block, std::size_t length, double expected)
{
    const auto b = int64_t(length);
    if (length < minBlock || !(expected > 0.0))
        return {};
    const int64_t p0 = std::llround(expected);
    const int64_t span = searchSpan(expected);
    const int64_t first = std::max<int64_t>(p0 - span, 1);
    const int64_t last = std::min(p0 + span, b - 2);
    // Candidates whose overlap with the block is too short to judge carry no correlation.
    const auto judged = [&](int64_t p) {
        return p >= first && p <= last && b - p >= p0 / 4;
    };
    if (first > last || !judged(first))
        return {};

    // The product sums Σ x[i]·x[i + p] of every candidate p at once: the correlation of the
    // block's tail from `first` on with its head of the same length, at lags 0 … last − first.
    // A transform of that length and the lag range does not wrap onto them.
    blockLength_ = length;
    firstCandidate_ = std::size_t(first);
    prefixSums(block, length, sum_, sumSquares_);
    const std::size_t overlap = length - firstCandidate_;
    usePlan(periodPlan_, std::bit_ceil(overlap + std::size_t(last - first) + 1));
    periodPlan_.realForward(block + firstCandidate_, overlap, spectrum_);
    periodPlan_.realForward(block, overlap, headSpectrum_);
    correlate(periodPlan_, spectrum_, headSpectrum_, correlation_);

    int64_t best = -1;
    double bestR = 0.0;
    for (int64_t p = first; p <= last; ++p) {
        if (!judged(p))
            continue;
        const double r = pearson(std::size_t(p));
        if (best < 0 || r > bestR) {
            best = p;
            bestR = r;
        }
    }
    if (best < 0)
        return {};
    double refined = double(best);
    if (judged(best - 1) && judged(best + 1)) {
        const double before = pearson(std::size_t(best - 1));
        const double after = pearson(std::size_t(best + 1));
        const double curvature = before - 2.0 * bestR + after;
        if (std::abs(curvature) > 1e-12)
            refined += std::clamp((before - after) * 0.5 / curvature, -1.0, 1.0);
    }
    return {refined, std::max(bestR, 0.0)};
}

LagEstimate BlockCorrelation::templateLag(const float *block, std::size_t length, int64_t first,
                                          int64_t limit)
{
    const auto t = int64_t(template_.size());
    const auto b = int64_t(length);
    first = std::max<int64_t>(first, 0);
    limit = std::min(b - t + 1, limit);
    if (t < 1 || b < t || first >= limit || !(templateEnergy_ > 0.0))
        return {};

    // Lags stay within the block, so a transform as long as the block does not wrap onto them.
    prefixSums(block, length, sum_, sumSquares_);
    usePlan(lagPlan_, std::bit_ceil(length));
    if (templateSpectrum_.size() != lagPlan_.size() / 2 + 1)
        lagPlan_.realForward(template_.data(), template_.size(), templateSpectrum_);
    lagPlan_.realForward(block, length, spectrum_);
    correlate(lagPlan_, spectrum_, templateSpectrum_, correlation_);

    LagEstimate best;
    for (int64_t k = first; k < limit; ++k) {
        const double window = sumSquares_[std::size_t(k + t)] - sumSquares_[std::size_t(k)];
        const double denominator = std::sqrt(templateEnergy_ * std::max(window, 0.0));
        const double c
                = denominator > 0.0 ? std::abs(correlation_[std::size_t(k)]) / denominator : 0.0;
        if (best.lag < 0 || c > best.correlation)
            best = {k, c};
    }
    return best;
}

PeriodEstimate refinePeriod(const float *block, std::size_t length, double expected)
{
    return BlockCorrelation().period(block, length, expected);
}

LagEstimate findCorrelationLag(const float *samples, std::size_t templateLength, const float *block,
                               std::size_t length, int64_t first, int64_t limit)
{
    BlockCorrelation correlation;
    correlation.setTemplate(samples, templateLength);
    return correlation.templateLag(block, length, first, limit);
}
