#include "eq/PeqSearch.h"

#include "eq/BandRules.h"
#include "eq/LadderSearch.h"
#include "eq/Trace.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace snt::eq {

namespace {

constexpr double gainEpsilon = 1.000000001;
constexpr int maxPrunedCandidates = 10;
constexpr int maxThresholdSteps = 400;

// The coarse ladder: ±1 … ±10 dB in 1 dB steps, Q 0.5 … 5.9 in 0.3 steps.
constexpr int coarseGains = 10;
constexpr double coarseGainStep = 1.0;
const int coarseQs = int(std::floor(5.5 / 0.3)) + 1;
constexpr double coarseQStep = 0.3;
// The fine ladder: ±1.0 … ±10.0 dB in 0.1 dB steps, Q 0.5 … 6.0 in 0.1 steps.
constexpr int fineGains = 91;
constexpr double fineGainStep = 0.1;
const int fineQs = int(std::floor(55.0)) + 1;
constexpr double fineQStep = 0.1;

Ladder coarseLadder(int sign)
{
    return {sign, sign * 1.0, coarseGainStep, coarseGains, coarseQStep, coarseQs};
}

Ladder fineLadder(int sign)
{
    return {sign, sign * 1.0, fineGainStep, fineGains, fineQStep, fineQs};
}

thread_local quint64 refinements = 0;

struct ScoredCandidate
{
    double error;
    double hz;
    double gain;
};

LadderResult refine(const QList<double> &r, double hz, int sign, LadderResponseCache &cache)
{
    ++refinements;
    return leastErrorPair(cache.at(hz, fineLadder(sign)), r);
}

void addBandResponse(QList<double> &b, const QList<float> &grid, const Band &band)
{
    const qsizetype n = std::min(b.size(), grid.size());
    for (qsizetype k = 0; k < n; ++k)
        b[k] += peakingGainDb(grid[k], band.hz, band.gain, band.q);
}

QList<double> residual(const QList<double> &a, const QList<double> &b)
{
    QList<double> r(std::min(a.size(), b.size()));
    for (qsizetype k = 0; k < r.size(); ++k)
        r[k] = a[k] + b[k];
    return r;
}

// Collects the candidate indices of r for thresholds stepping from `start` towards `stop`.
QList<int> sweepThreshold(const QList<double> &r, double start, double step, double stop)
{
    QList<int> collected;
    std::vector<bool> seen(size_t(r.size()), false);
    double t = start;
    for (int pass = 0; pass < maxThresholdSteps; ++pass) {
        t += step;
        for (const int i : candidateIndices(r, t)) {
            if (!seen[size_t(i)]) {
                seen[size_t(i)] = true;
                collected.append(i);
            }
        }
        if (step < 0.0 ? !(t > stop) : !(t < stop))
            break;
    }
    return collected;
}

QString formatList(const QList<double> &values, int decimals)
{
    QStringList parts;
    parts.reserve(values.size());
    for (const double v : values)
        parts.append(QString::number(v, 'f', decimals));
    return parts.join(QLatin1Char(','));
}

} // namespace

quint64 refinementsOnThisThread()
{
    return refinements;
}

LadderResult evaluateCandidate(const QList<double> &r, double f, const Ladder &ladder,
                               const QList<float> &grid, LadderChoice choice)
{
    if (ladder.gains <= 0 || ladder.qs <= 0)
        return {};
    LadderResponses responses(f, ladder, grid);
    return choice == LadderChoice::SmallestQ ? smallestQPair(responses, r)
                                             : leastErrorPair(responses, r);
}

QList<int> candidateIndices(const QList<double> &r, double t)
{
    QList<int> crossings;
    for (qsizetype i = 0; i + 1 < r.size(); ++i) {
        if ((r[i + 1] - t) * (r[i] - t) <= 0.0)
            crossings.append(int(i));
    }
    QList<int> result;
    if (crossings.size() < 2)
        return result;
    for (qsizetype k = 0; k + 1 < crossings.size(); ++k)
        result.append((crossings[k] + crossings[k + 1]) / 2 + 1);
    return result;
}

QList<double> pruneCandidates(const QList<float> &grid, const QList<double> &r,
                              const QList<int> &indices, bool descending)
{
    const qsizetype n = std::min(grid.size(), r.size());
    struct Scored
    {
        double score;
        int index;
    };
    QList<Scored> scored;
    for (const int i : indices) {
        if (i < 0 || i >= n)
            continue;
        const qsizetype from = std::max(1, i - 5);
        const qsizetype to = std::min<qsizetype>(n - 1, i + 5);
        double score = r[i];
        if (from <= to) {
            double sum = 0.0;
            for (qsizetype k = from; k <= to; ++k)
                sum += r[k];
            score = sum / double(to - from + 1);
        }
        scored.append({score, i});
    }
    std::stable_sort(scored.begin(), scored.end(), [descending](const Scored &a, const Scored &b) {
        return descending ? a.score > b.score : a.score < b.score;
    });
    QList<double> result;
    for (qsizetype k = 0; k < scored.size() && k < maxPrunedCandidates; ++k)
        result.append(grid[scored[k].index]);
    return result;
}

QList<double> peakCandidates(const QList<double> &r, const QList<float> &grid)
{
    if (r.size() < 4)
        return {};
    const auto [lowest, highest] = std::minmax_element(r.cbegin(), r.cend());
    QList<int> peaks;
    QList<int> troughs;
    if (*highest > 0.0)
        peaks = sweepThreshold(r, *highest, -0.5, 0.0);
    if (*lowest < -1.0)
        troughs = sweepThreshold(r, *lowest, 0.5, -1.0);
    QList<double> result = pruneCandidates(grid, r, peaks, true);
    for (const double f : pruneCandidates(grid, r, troughs, false))
        result.append(-f);
    return result;
}

QList<Band> searchPeq(const QList<float> &grid, const QList<double> &a, double fMin, double fMax,
                      int budget, bool keepGoing, LadderResponseCache *responses)
{
    QList<Band> bands;
    QList<double> b(std::min(a.size(), grid.size()), 0.0);
    // The candidates come back from one iteration to the next, and the bands' responses on the
    // grid stay what they were: each is computed once for the whole search.
    std::optional<LadderResponseCache> own;
    LadderResponseCache &cache = responses ? *responses : own.emplace(grid);

    bool searching = true;
    while (searching && bands.size() < budget) {
        const QList<double> r = residual(a, b);
        const QList<double> candidates = peakCandidates(r, grid);
        QList<ScoredCandidate> scored;
        for (const double c : candidates) {
            const double hz = std::abs(c);
            if (hz < fMin || hz > fMax)
                continue;
            const int sign = c < 0.0 ? 1 : -1;
            const LadderResult coarse = leastErrorPair(cache.at(hz, coarseLadder(sign)), r);
            scored.append({coarse.error, hz, coarse.gain});
        }
        if (scored.isEmpty())
            break;
        std::stable_sort(scored.begin(), scored.end(),
                         [](const ScoredCandidate &x, const ScoredCandidate &y) {
                             return x.error < y.error;
                         });
        traceLine([&] {
            return QStringLiteral("iter %1 cands [%2]")
                    .arg(bands.size())
                    .arg(formatList(candidates, 1));
        });

        bool accepted = false;
        for (const ScoredCandidate &candidate : std::as_const(scored)) {
            const LadderResult fine = refine(r, candidate.hz, candidate.gain > 0.0 ? 1 : -1, cache);
            traceLine([&] {
                return QStringLiteral("  try hz=%1 g=%2 q=%3")
                        .arg(QString::number(candidate.hz, 'f', 1),
                             QString::number(fine.gain, 'f', 2), QString::number(fine.q, 'f', 2));
            });
            if (std::abs(fine.gain) <= gainEpsilon) {
                if (keepGoing)
                    continue;
                searching = false;
                break;
            }
            if (rejectBand(fine.gain, fine.q))
                continue;
            const Band band{candidate.hz, fine.gain, fine.q};
            bands.append(band);
            addBandResponse(b, grid, band);
            accepted = true;
            break;
        }
        if (!accepted)
            searching = false;
    }

    // Cuts only: the largest remaining excess strictly inside the range.
    while (bands.size() < budget) {
        const QList<double> r = residual(a, b);
        qsizetype at = -1;
        for (qsizetype k = 0; k < r.size(); ++k) {
            if (grid[k] > fMin && grid[k] < fMax && r[k] > 0.0 && (at < 0 || r[k] > r[at]))
                at = k;
        }
        if (at < 0 || r[at] < 1.0)
            break;
        const LadderResult fine = refine(r, grid[at], -1, cache);
        if (std::abs(fine.gain) <= gainEpsilon || rejectBand(fine.gain, fine.q))
            break;
        const Band band{double(grid[at]), fine.gain, fine.q};
        bands.append(band);
        addBandResponse(b, grid, band);
    }
    return bands;
}

} // namespace snt::eq
