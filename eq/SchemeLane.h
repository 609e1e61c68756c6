#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

// The scheme of one target curve: usable range from the corner estimate, two refusal rules, the
// band fit with its clean-up, and the predicted curves, fit error and texts.
namespace snt::eq {

// The scheme of target `laneIndex`; an index outside the target list gives a scheme without a
// name and an empty log.
LaneResult computeOne(const LaneContext &context, int laneIndex);

// The refusal of a curve whose usable frequency range is too narrow to fit anything.
QString usableRangeTooNarrow();

// The sagging-middle and large-dip refusals on the smoothed grid curve; empty text when none fires.
QString diagnoseSaggingMiddle(const QList<float> &grid, const QList<float> &measured, double base,
                              double lo, double hi);
QString diagnoseLargeDip(const QList<float> &grid, const QList<float> &measured, double lo,
                         double hi);

// The new low-pass frequency when boosts near it exceed 5 dB (pulled down by up to a quarter
// octave), or 0 when it stays. `shift` receives the pull-down in octaves.
double pulledDownLowPass(double highBoostDb, double lowPassHz, double lo, double *shift);

} // namespace snt::eq
