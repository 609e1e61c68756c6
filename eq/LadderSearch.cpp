#include "eq/LadderSearch.h"

#include "eq/BandRules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <queue>

namespace snt::eq {

namespace {

constexpr double gainEpsilon = 1.000000001;

} // namespace

LadderResponses::LadderResponses(double f, const Ladder &ladder, const QList<float> &grid)
    : ladder_(ladder)
    , n_(grid.size())
    , divisor_(grid.size() < 2 ? 1.0 : double(grid.size()))
    , active_(f > 0.0)
    , monotone_(ladder.qs > 0 && qAt(0) > 0.0 && qAt(ladder.qs - 1) > 0.0)
    , ratio_(size_t(n_))
    , shoulder_(size_t(n_))
    , amplitude_(size_t(std::max(ladder.gains, 0)))
    , computed_(size_t(std::max(ladder.gains, 0)) * size_t(std::max(ladder.qs, 0)))
{
    for (qsizetype k = 0; k < n_; ++k) {
        const double ratio = double(grid[k]) / f;
        const double w = 1.0 - ratio * ratio;
        ratio_[size_t(k)] = ratio;
        shoulder_[size_t(k)] = w * w;
    }
    for (int i = 0; i < ladder.gains; ++i)
        amplitude_[size_t(i)] = peakingAmplitude(gainAt(i));
}

const double *LadderResponses::response(int i, int j)
{
    std::atomic<const double *> &computed = computed_[size_t(i) * size_t(ladder_.qs) + size_t(j)];
    if (const double *known = computed.load(std::memory_order_acquire))
        return known;
    double *p = freshSpace();
    const double amplitude = amplitude_[size_t(i)];
    const double q = qAt(j);
    if (active_ && q > 0.0) {
        const double overQ = amplitude / q;
        const double timesQ = amplitude * q;
        for (qsizetype k = 0; k < n_; ++k)
            p[k] = peakingGainDbPrepared(overQ, timesQ, ratio_[size_t(k)], shoulder_[size_t(k)]);
    } else {
        std::fill_n(p, n_, 0.0);
    }
    // Another lane may have computed the same values meanwhile: the first one stays.
    const double *expected = nullptr;
    if (computed.compare_exchange_strong(expected, p, std::memory_order_acq_rel))
        return p;
    return expected;
}

double *LadderResponses::freshSpace()
{
    const std::lock_guard lock(spaceMutex_);
    if (usedInChunk_ == pairsPerChunk) {
        chunks_.emplace_back(new double[pairsPerChunk * size_t(n_)]);
        usedInChunk_ = 0;
    }
    return chunks_.back().get() + usedInChunk_++ * size_t(n_);
}

double LadderResponses::error(int i, int j, const QList<double> &r)
{
    const double *p = response(i, j);
    const qsizetype n = std::min(n_, r.size());
    double sum = 0.0;
    for (qsizetype k = 0; k < n; ++k)
        sum += std::abs(p[k] + r[k]);
    return sum / divisor_;
}

LadderResponses &LadderResponseCache::at(double f, const Ladder &ladder)
{
    const Key key{
            f,        ladder.sign, ladder.firstGain, ladder.gainStep, ladder.gains, ladder.qStep,
            ladder.qs};
    const std::lock_guard lock(mutex_);
    std::unique_ptr<LadderResponses> &table = tables_[key];
    if (!table)
        table = std::make_unique<LadderResponses>(f, ladder, grid_);
    return *table;
}

namespace {

// A rectangle of the ladder, indices inclusive, with a lower bound of its pairs' error sums.
struct Block
{
    int i0, i1, j0, j1;
    double bound;

    bool isPair() const { return i0 == i1 && j0 == j1; }
    bool operator>(const Block &other) const { return bound > other.bound; }
};

// Branch and bound over the ladder. A band's response grows with its gain and shrinks towards
// 0 dB as its Q grows, at every point, so over a rectangle of the ladder each point's response
// lies between those of two corners; its distance from -r there bounds the pair's term from
// below. Rectangles whose bound exceeds the best error found so far hold no better pair and no
// equal one, so the winner, and the first of equal ones in gain-major order, is the one a scan
// of every pair finds, to the bit. Most of the ladder goes unscored.
class LeastErrorSearch
{
public:
    LeastErrorSearch(LadderResponses &responses, const QList<double> &r)
        : responses_(responses)
        , r_(r)
        , n_(std::min(r.size(), responses.points()))
        , margin_(responseMargin(responses))
        , considered_(size_t(responses.gains()) * size_t(responses.qs()), false)
    { }

    LadderResult run()
    {
        const int nG = responses_.gains();
        const int nQ = responses_.qs();
        std::priority_queue<Block, std::vector<Block>, std::greater<Block>> open;
        open.push(bounded({0, nG - 1, 0, nQ - 1, 0.0}));
        while (!open.empty()) {
            const Block block = open.top();
            open.pop();
            if (prunable(block.bound))
                break; // every block left is bounded at least as high
            if (block.isPair()) {
                consider(block.i0, block.j0);
                continue;
            }
            for (const Block &half : halves(block)) {
                const Block child = bounded(half);
                if (!prunable(child.bound))
                    open.push(child);
            }
        }
        return best_;
    }

private:
    // Margin for the rounding of sums: the bound is summed in another order than errors.
    static constexpr double boundSlack = 1e-9;

    // Responses in floating point may sit a little outside the range the maths gives them; no
    // response is larger than its band's gain.
    static double responseMargin(const LadderResponses &responses)
    {
        const double largest = std::max(std::abs(responses.gainAt(0)),
                                        std::abs(responses.gainAt(responses.gains() - 1)));
        return 1e-12 * (1.0 + 2.0 * largest);
    }

    static std::array<Block, 2> halves(const Block &b)
    {
        if (b.i1 - b.i0 >= b.j1 - b.j0) {
            const int mid = (b.i0 + b.i1) / 2;
            return {Block{b.i0, mid, b.j0, b.j1, 0.0}, Block{mid + 1, b.i1, b.j0, b.j1, 0.0}};
        }
        const int mid = (b.j0 + b.j1) / 2;
        return {Block{b.i0, b.i1, b.j0, mid, 0.0}, Block{b.i0, b.i1, mid + 1, b.j1, 0.0}};
    }

    bool prunable(double bound) const { return found_ && bound * (1.0 - boundSlack) > bestSum_; }

    // Bounds the rectangle's error sums by the two corners that hold its least and largest
    // responses.
    Block bounded(Block b)
    {
        const bool gainRises = responses_.gainAt(b.i1) >= responses_.gainAt(b.i0);
        const bool qRises = responses_.qAt(b.j1) >= responses_.qAt(b.j0);
        const int lowGain = gainRises ? b.i0 : b.i1;
        const int highGain = gainRises ? b.i1 : b.i0;
        const int smallQ = qRises ? b.j0 : b.j1;
        const int largeQ = qRises ? b.j1 : b.j0;
        // A cut is deepest at its smallest Q, a boost highest there.
        const int lowQ = responses_.gainAt(lowGain) < 0.0 ? smallQ : largeQ;
        const int highQ = responses_.gainAt(highGain) > 0.0 ? smallQ : largeQ;
        consider(lowGain, lowQ);
        consider(highGain, highQ);
        const double *lo = responses_.response(lowGain, lowQ);
        const double *hi = responses_.response(highGain, highQ);
        const double *r = r_.constData();
        double sum = 0.0;
        for (qsizetype k = 0; k < n_; ++k) {
            const double above = lo[k] + (r[k] - margin_);
            const double below = -hi[k] - (r[k] + margin_);
            sum += std::max(std::max(above, below), 0.0);
        }
        b.bound = sum;
        return b;
    }

    void consider(int i, int j)
    {
        const int nQ = responses_.qs();
        const int index = i * nQ + j;
        if (considered_[size_t(index)])
            return;
        considered_[size_t(index)] = true;
        const double error = responses_.error(i, j, r_);
        if (found_ && (error > best_.error || (error == best_.error && index >= bestIndex_)))
            return;
        best_ = {responses_.gainAt(i), responses_.qAt(j), error};
        bestSum_ = error * responses_.divisor();
        bestIndex_ = index;
        found_ = true;
    }

    LadderResponses &responses_;
    const QList<double> &r_;
    qsizetype n_;
    double margin_;
    std::vector<bool> considered_;
    LadderResult best_;
    double bestSum_ = std::numeric_limits<double>::infinity();
    int bestIndex_ = 0;
    bool found_ = false;
};

} // namespace

LadderResult leastErrorPair(LadderResponses &responses, const QList<double> &r)
{
    if (responses.monotone())
        return LeastErrorSearch(responses, r).run();
    LadderResult best;
    bool found = false;
    for (int i = 0; i < responses.gains(); ++i) {
        for (int j = 0; j < responses.qs(); ++j) {
            const double error = responses.error(i, j, r);
            if (!found || error < best.error) {
                best = {responses.gainAt(i), responses.qAt(j), error};
                found = true;
            }
        }
    }
    return best;
}

LadderResult smallestQPair(LadderResponses &responses, const QList<double> &r)
{
    const int nG = responses.gains();
    const int nQ = responses.qs();
    const auto at = [nQ](int i, int j) {
        return size_t(i) * size_t(nQ) + size_t(j);
    };
    std::vector<double> errors(size_t(nG) * size_t(nQ));
    size_t leastAt = 0;
    for (int i = 0; i < nG; ++i) {
        for (int j = 0; j < nQ; ++j) {
            errors[at(i, j)] = responses.error(i, j, r);
            if (errors[at(i, j)] < errors[leastAt])
                leastAt = at(i, j);
        }
    }
    const double limit = 1.05 * errors[leastAt];
    for (int j = 0; j < nQ; ++j) {
        bool qualifies = false;
        size_t columnBest = at(0, j);
        for (int i = 0; i < nG; ++i) {
            if (std::abs(responses.gainAt(i)) > gainEpsilon && errors[at(i, j)] <= limit)
                qualifies = true;
            if (errors[at(i, j)] < errors[columnBest])
                columnBest = at(i, j);
        }
        if (qualifies) {
            leastAt = columnBest;
            break;
        }
    }
    const int i = int(leastAt / size_t(nQ));
    const int j = int(leastAt % size_t(nQ));
    return {responses.gainAt(i), responses.qAt(j), errors[leastAt]};
}

} // namespace snt::eq
