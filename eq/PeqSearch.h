#pragma once

#include "eq/Records.h"

#include <QList>

// The greedy peaking-band fitter: one band at a time at the peaks and troughs of the remaining
// error, scored on a coarse gain × Q ladder and refined on a fine one, followed by a phase that
// fills the remaining budget with cuts at the largest remaining excess.
namespace snt::eq {

class LadderResponseCache;

struct LadderResult
{
    double gain = 0.0;
    double q = 0.0;
    double error = 0.0;
};

// Fits up to `budget` bands to the deviation `a` (dB on `grid`, positive where the measured level
// lies above the target) inside fMin..fMax. keepGoing (line-array mode) skips candidates whose
// refined gain is within ±1 dB instead of ending the search there. `responses`, when given, holds
// the bands' responses on this grid that other searches computed, and keeps this one's.
QList<Band> searchPeq(const QList<float> &grid, const QList<double> &a, double fMin, double fMax,
                      int budget, bool keepGoing, LadderResponseCache *responses = nullptr);

// Signed candidate frequencies: peaks of r (positive, to be cut) then troughs (negated, to be
// boosted), at most 10 of each.
QList<double> peakCandidates(const QList<double> &r, const QList<float> &grid);

// Midpoints of consecutive crossings of the threshold t.
QList<int> candidateIndices(const QList<double> &r, double t);

// The (at most 10) strongest candidates by the local mean of r, as grid frequencies.
QList<double> pruneCandidates(const QList<float> &grid, const QList<double> &r,
                              const QList<int> &indices, bool descending);

// A gain × Q ladder: the gains firstGain + i·sign·gainStep for i below `gains`, and the Q values
// 0.5 + j·qStep for j below `qs`.
struct Ladder
{
    int sign = 1; // +1 boosts, -1 cuts
    double firstGain = 1.0; // dB
    double gainStep = 1.0;
    int gains = 0;
    double qStep = 0.1;
    int qs = 0;
};

// How a ladder's winner is chosen: the least error (the first of equals in gain-major order), or
// the least error in the smallest Q column that comes within 5 % of it.
enum class LadderChoice {
    LeastError,
    SmallestQ,
};

// Best (gain, Q) of a band at f against the residual r on the ladder, scored by the mean
// |band + r| over the grid.
LadderResult evaluateCandidate(const QList<double> &r, double f, const Ladder &ladder,
                               const QList<float> &grid,
                               LadderChoice choice = LadderChoice::LeastError);

// The number of fine-ladder refinements run so far on the calling thread; lets profiling relate
// a lane's time to its work.
quint64 refinementsOnThisThread();

} // namespace snt::eq
