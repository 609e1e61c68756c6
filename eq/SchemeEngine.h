#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

#include <functional>

// The EQ engine's entry point: one measured curve in, one scheme per target curve out.
namespace snt::eq {

// Prepares the curve, diagnoses it, and computes every target's scheme on a thread of its own
// (six presets, or two lift targets in line-array mode), returned in lane order. Lines are appended
// to `log` when it is given. `progress` (may be empty) gets (0, lanes) first and then, from the
// lane threads, the running count of finished lanes, in increasing order. Blocks until done.
QList<Scheme> computeSchemes(const Measured &measured, const Options &options, QString *log,
                             const std::function<void(int done, int total)> &progress);

// The measured record as the engine works on it: points with a finite frequency and magnitude,
// sorted by ascending frequency, with coherence and phase kept in step where they belong to the
// frequencies (exactly as long as them) and dropped otherwise. Surplus values of a longer list
// are ignored.
Measured ascendingFinite(const Measured &measured);

// The shared, read-only input of the lanes: the curve prepared on the grid, its diagnosis and
// the targets.
LaneContext prepareLaneContext(const Measured &measured, const Options &options);

// The target index of each lane, in lane order.
QList<int> laneTargetIndices(const LaneContext &context);

} // namespace snt::eq
