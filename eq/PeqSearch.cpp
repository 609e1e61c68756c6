#include "eq/PeqSearch.h"

#include "eq/BandRules.h"
#include "eq/Trace.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

LadderResult refine(const QList<double> &r, double hz, int sign, const QList<float> &grid)
{
    ++refinements;
    return evaluateCandidate(r, hz, fineLadder(sign), grid);
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

namespace {

// Scores the pairs of one gain × Q ladder for a band at one frequency. Every pair's error is the
// in-order mean of |band + r| over the grid, exactly as a plain double loop computes it; the
// scorer only skips pairs that provably cannot be the best one. It works out the terms near the
// band first and bounds the rest from below: a boost never lowers a point and a cut never raises
// one, so where the residual already has the band's sign the point adds at least |r|. A pair is
// dropped once that bound exceeds the best error known so far, which a few exactly scored seed
// pairs make small from the start. The best pair, and the first of equal ones in gain-major
// order, is therefore the same as with every pair scored in full.
class LadderScorer
{
public:
    LadderScorer(const QList<double> &r, double f, const QList<float> &grid)
        : n_(std::min(r.size(), grid.size()))
        , divisor_(grid.size() < 2 ? 1.0 : double(grid.size()))
        , active_(f > 0.0)
        , res_(r.constData())
        , ratio_(size_t(n_))
        , shoulder_(size_t(n_))
        , terms_(size_t(n_))
        , responses_(size_t(n_))
        , negatedRes_(size_t(n_))
        , raisedPrefix_(size_t(n_) + 1, 0.0)
        , loweredPrefix_(size_t(n_) + 1, 0.0)
    {
        double closest = std::numeric_limits<double>::infinity();
        for (qsizetype k = 0; k < n_; ++k) {
            const double ratio = double(grid[k]) / f;
            const double w = 1.0 - ratio * ratio;
            ratio_[size_t(k)] = ratio;
            negatedRes_[size_t(k)] = -res_[k];
            shoulder_[size_t(k)] = w * w;
            raisedPrefix_[size_t(k) + 1] = raisedPrefix_[size_t(k)] + std::max(res_[k], 0.0);
            loweredPrefix_[size_t(k) + 1] = loweredPrefix_[size_t(k)] + std::max(-res_[k], 0.0);
            const double distance = std::abs(std::log(std::max(ratio, 1e-300)));
            if (distance < closest) {
                closest = distance;
                centre_ = k;
            }
        }
        absoluteSlack_ = 1e-12 * (raisedPrefix_.back() + loweredPrefix_.back());
    }

    // The pair's error, computed in full.
    double error(double gain, double q)
    {
        const Band band = prepare(gain, q);
        for (qsizetype k = 0; k < n_; ++k)
            terms_[size_t(k)] = term(band, k);
        return inOrderMean();
    }

    // The pair's error, or nothing when it is certainly above `threshold`.
    std::optional<double> errorBelow(double gain, double q, double threshold)
    {
        const Band band = prepare(gain, q);
        if (!band.active || n_ == 0)
            return error(gain, q);
        const double limit = threshold * divisor_;
        const std::vector<double> &tail
                = gain >= minimumSignedGain ? raisedPrefix_ : loweredPrefix_;
        const bool signKnown = std::abs(gain) >= minimumSignedGain;
        qsizetype lo = centre_;
        qsizetype hi = centre_ - 1;
        double near = 0.0;
        qsizetype nextTightCheck = tightCheckStart;
        while (lo > 0 || hi < n_ - 1) {
            const qsizetype newLo = std::max<qsizetype>(0, lo - expansionStep);
            const qsizetype newHi = std::min<qsizetype>(n_ - 1, hi + expansionStep);
            for (qsizetype k = newLo; k < lo; ++k)
                near += terms_[size_t(k)] = term(band, k);
            for (qsizetype k = hi + 1; k <= newHi; ++k)
                near += terms_[size_t(k)] = term(band, k);
            lo = newLo;
            hi = newHi;
            if (!signKnown)
                continue;
            const double rest = tail[size_t(lo)] + (tail[size_t(n_)] - tail[size_t(hi) + 1]);
            if (exceeds(near + rest, limit))
                return std::nullopt;
            if (hi - lo + 1 >= nextTightCheck) {
                nextTightCheck *= 2;
                if (exceeds(near + farBound(gain > 0.0, lo, hi), limit))
                    return std::nullopt;
            }
        }
        return inOrderMean();
    }

private:
    // Below this gain the sign of the band's response is not certain in floating point.
    static constexpr double minimumSignedGain = 0.01;
    // Margins that cover the different rounding of a bound and the in-order sum: relative to
    // the bound, and absolute for the differences of the prefix sums.
    static constexpr double boundSlack = 1e-9;
    static constexpr qsizetype expansionStep = 6;
    // Window width at which the tighter (and dearer) bound of the far points is first tried.
    static constexpr qsizetype tightCheckStart = 12;

    struct Band
    {
        bool active;
        double overQ;
        double timesQ;
    };

    bool exceeds(double bound, double limit) const
    {
        return bound * (1.0 - boundSlack) - absoluteSlack_ > limit;
    }

    Band prepare(double gain, double q) const
    {
        const double amplitude = peakingAmplitude(gain);
        return {active_ && q > 0.0, amplitude / q, amplitude * q};
    }

    // The far points bounded with the band's size at the window edges: further out the band
    // is no larger, so a point can only be pulled towards zero by that much.
    double farBound(bool boost, qsizetype lo, qsizetype hi) const
    {
        const double *along = boost ? res_ : negatedRes_.data();
        return boundedTail(along, 0, lo, std::abs(responses_[size_t(lo)]))
               + boundedTail(along, hi + 1, n_, std::abs(responses_[size_t(hi)]));
    }

    // Σ max(v, -v - edge, 0) over [from, to), v being the residual along the band's direction.
    // Four partial sums keep the loop short; the bound's slack covers their rounding.
    static double boundedTail(const double *along, qsizetype from, qsizetype to, double edge)
    {
        double sums[4] = {0.0, 0.0, 0.0, 0.0};
        qsizetype k = from;
        for (; k + 4 <= to; k += 4) {
            for (int lane = 0; lane < 4; ++lane) {
                const double v = along[k + lane];
                const double pulled = -v - edge;
                const double kept = v > 0.0 ? v : 0.0;
                sums[lane] += pulled > kept ? pulled : kept;
            }
        }
        for (; k < to; ++k) {
            const double v = along[k];
            const double pulled = -v - edge;
            const double kept = v > 0.0 ? v : 0.0;
            sums[0] += pulled > kept ? pulled : kept;
        }
        return (sums[0] + sums[1]) + (sums[2] + sums[3]);
    }

    double term(const Band &band, qsizetype k)
    {
        const double response
                = band.active ? peakingGainDbPrepared(band.overQ, band.timesQ, ratio_[size_t(k)],
                                                      shoulder_[size_t(k)])
                              : 0.0;
        responses_[size_t(k)] = response;
        return std::abs(response + res_[k]);
    }

    double inOrderMean() const
    {
        double sum = 0.0;
        for (qsizetype k = 0; k < n_; ++k)
            sum += terms_[size_t(k)];
        return sum / divisor_;
    }

    qsizetype n_;
    double divisor_;
    bool active_;
    const double *res_;
    qsizetype centre_ = 0;
    double absoluteSlack_ = 0.0;
    std::vector<double> ratio_;
    std::vector<double> shoulder_;
    std::vector<double> terms_;
    std::vector<double> responses_;
    std::vector<double> negatedRes_;
    std::vector<double> raisedPrefix_; // Σ max(r, 0) up to each point
    std::vector<double> loweredPrefix_; // Σ max(-r, 0) up to each point
};

// Pairs scored first to give the pruning a small threshold: a sparse lattice over the ladder.
constexpr int seedStride = 12;

} // namespace

namespace {

// The pairs of one ladder by gain index i and Q index j, stored gain-major.
struct LadderGrid
{
    const Ladder &ladder;

    double gainAt(int i) const { return ladder.firstGain + i * ladder.sign * ladder.gainStep; }
    double qAt(int j) const { return 0.5 + j * ladder.qStep; }
    size_t at(int i, int j) const { return size_t(i) * size_t(ladder.qs) + size_t(j); }
    size_t pairs() const { return size_t(ladder.gains) * size_t(ladder.qs); }
    LadderResult result(size_t index, double error) const
    {
        return {gainAt(int(index / size_t(ladder.qs))), qAt(int(index % size_t(ladder.qs))), error};
    }
};

// Every pair scored; in the smallest Q column with a pair of real gain within 5 % of the least
// error, that column's best pair; the least error overall when no column qualifies.
LadderResult smallestQWithin(LadderScorer &scorer, const LadderGrid &grid)
{
    const int nG = grid.ladder.gains;
    const int nQ = grid.ladder.qs;
    std::vector<double> errors(grid.pairs());
    size_t leastAt = 0;
    for (int i = 0; i < nG; ++i) {
        for (int j = 0; j < nQ; ++j) {
            errors[grid.at(i, j)] = scorer.error(grid.gainAt(i), grid.qAt(j));
            if (errors[grid.at(i, j)] < errors[leastAt])
                leastAt = grid.at(i, j);
        }
    }
    const double limit = 1.05 * errors[leastAt];
    for (int j = 0; j < nQ; ++j) {
        bool qualifies = false;
        size_t columnBest = grid.at(0, j);
        for (int i = 0; i < nG; ++i) {
            if (std::abs(grid.gainAt(i)) > gainEpsilon && errors[grid.at(i, j)] <= limit)
                qualifies = true;
            if (errors[grid.at(i, j)] < errors[columnBest])
                columnBest = grid.at(i, j);
        }
        if (qualifies) {
            leastAt = columnBest;
            break;
        }
    }
    return grid.result(leastAt, errors[leastAt]);
}

// The least error, the first of equals in gain-major order. Seeds (a sparse lattice, then
// downhill from its best pair to a local minimum) give a small threshold at once, so most pairs
// are dropped by the scorer's bound before they are summed in full.
LadderResult leastError(LadderScorer &scorer, const LadderGrid &grid)
{
    const int nG = grid.ladder.gains;
    const int nQ = grid.ladder.qs;
    std::vector<double> seeded(grid.pairs(), std::numeric_limits<double>::quiet_NaN());
    const auto seed = [&](int i, int j) {
        if (std::isnan(seeded[grid.at(i, j)]))
            seeded[grid.at(i, j)] = scorer.error(grid.gainAt(i), grid.qAt(j));
        return seeded[grid.at(i, j)];
    };
    int bestI = 0;
    int bestJ = 0;
    for (int i = 0; i < nG; i += seedStride) {
        for (int j = 0; j < nQ; j += seedStride) {
            if (seed(i, j) < seed(bestI, bestJ)) {
                bestI = i;
                bestJ = j;
            }
        }
    }
    for (bool moved = true; moved;) {
        moved = false;
        const int fromI = bestI;
        const int fromJ = bestJ;
        for (int i = std::max(0, fromI - 1); i <= std::min(nG - 1, fromI + 1); ++i) {
            for (int j = std::max(0, fromJ - 1); j <= std::min(nQ - 1, fromJ + 1); ++j) {
                if (seed(i, j) < seed(bestI, bestJ)) {
                    bestI = i;
                    bestJ = j;
                    moved = true;
                }
            }
        }
    }
    double threshold = seed(bestI, bestJ);
    LadderResult best;
    bool found = false;
    for (int i = 0; i < nG; ++i) {
        for (int j = 0; j < nQ; ++j) {
            std::optional<double> error = seeded[grid.at(i, j)];
            if (std::isnan(*error))
                error = scorer.errorBelow(grid.gainAt(i), grid.qAt(j), threshold);
            if (!error)
                continue;
            threshold = std::min(threshold, *error);
            if (!found || *error < best.error) {
                best = {grid.gainAt(i), grid.qAt(j), *error};
                found = true;
            }
        }
    }
    return best;
}

} // namespace

LadderResult evaluateCandidate(const QList<double> &r, double f, const Ladder &ladder,
                               const QList<float> &grid, LadderChoice choice)
{
    if (ladder.gains <= 0 || ladder.qs <= 0)
        return {};
    LadderScorer scorer(r, f, grid);
    const LadderGrid pairs{ladder};
    return choice == LadderChoice::SmallestQ ? smallestQWithin(scorer, pairs)
                                             : leastError(scorer, pairs);
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
                      int budget, bool keepGoing)
{
    QList<Band> bands;
    QList<double> b(std::min(a.size(), grid.size()), 0.0);

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
            const LadderResult coarse = evaluateCandidate(r, hz, coarseLadder(sign), grid);
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
            const LadderResult fine = refine(r, candidate.hz, candidate.gain > 0.0 ? 1 : -1, grid);
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
        const LadderResult fine = refine(r, grid[at], -1, grid);
        if (std::abs(fine.gain) <= gainEpsilon || rejectBand(fine.gain, fine.q))
            break;
        const Band band{double(grid[at]), fine.gain, fine.q};
        bands.append(band);
        addBandResponse(b, grid, band);
    }
    return bands;
}

} // namespace snt::eq
