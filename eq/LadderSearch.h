#pragma once

#include "eq/PeqSearch.h"

#include <QList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

// The two ways of choosing a gain × Q ladder's winner for a band at one frequency (see
// evaluateCandidate). A pair's error is the in-order mean of |band + r| over the grid, exactly as
// a plain double loop computes it.
namespace snt::eq {

// The bands of one ladder at one frequency on a grid: each pair's response at every grid point,
// computed once when first asked for. The responses do not depend on the residual, so a search
// that meets the same frequency again reuses them, and so do the other lanes: several threads
// may ask at once.
class LadderResponses
{
public:
    LadderResponses(double f, const Ladder &ladder, const QList<float> &grid);

    int gains() const { return ladder_.gains; }
    int qs() const { return ladder_.qs; }
    double gainAt(int i) const { return ladder_.firstGain + i * ladder_.sign * ladder_.gainStep; }
    double qAt(int j) const { return 0.5 + j * ladder_.qStep; }
    qsizetype points() const { return n_; }
    // The grid's point count, or 1 for a grid of fewer than two points.
    double divisor() const { return divisor_; }
    // Whether every pair has a real band (positive Q), so that a band's response grows with its
    // gain and shrinks in size as its Q grows, at every point.
    bool monotone() const { return monotone_; }

    // The response of pair (i, j) at each grid point, in dB; the values stay where they are
    // while the table lives.
    const double *response(int i, int j);
    // The pair's error against the residual r: the in-order mean of |response + r| over the
    // points both have.
    double error(int i, int j, const QList<double> &r);

private:
    static constexpr size_t pairsPerChunk = 64;

    // Room for one pair's responses.
    double *freshSpace();

    Ladder ladder_;
    qsizetype n_;
    double divisor_;
    bool active_;
    bool monotone_;
    std::vector<double> ratio_;
    std::vector<double> shoulder_;
    std::vector<double> amplitude_; // per gain
    std::vector<std::atomic<const double *>> computed_; // per pair, gain-major; null until computed
    std::mutex spaceMutex_;
    std::vector<std::unique_ptr<double[]>> chunks_;
    size_t usedInChunk_ = pairsPerChunk;
};

// The responses of every ladder and frequency the searches on one grid have met; the lanes of
// one computation share it.
class LadderResponseCache
{
public:
    explicit LadderResponseCache(const QList<float> &grid)
        : grid_(grid)
    { }

    // The table of `ladder` at `f`, made when first asked for; it lives as long as the cache.
    LadderResponses &at(double f, const Ladder &ladder);

private:
    using Key = std::tuple<double, int, double, double, int, double, int>;
    const QList<float> grid_;
    std::mutex mutex_;
    std::map<Key, std::unique_ptr<LadderResponses>> tables_;
};

// The least error against the residual r, the first of equals in gain-major order.
LadderResult leastErrorPair(LadderResponses &responses, const QList<double> &r);

// In the smallest Q column with a pair of real gain within 5 % of the least error, that column's
// best pair; the least error overall when no column qualifies.
LadderResult smallestQPair(LadderResponses &responses, const QList<double> &r);

} // namespace snt::eq
