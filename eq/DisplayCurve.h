#pragma once

#include "eq/Records.h"

#include <QList>

// Curve maths shared by the charts: the display grid, the before/after preview of a stored curve
// with its EQ bands and corner filters applied, and small list operations. Levels are in dB,
// phases in degrees, frequencies in Hz.
namespace snt::eq {

// The 480 frequencies every preview is drawn on: 20 Hz to 20 kHz, evenly spaced in log frequency.
const QList<float> &displayFrequencyGrid();

// The record's curves before and after its EQ, smoothed as it asks and read on the display grid
// (-100 outside the measured range). Invalid for fewer than 8 points or a level list of another
// length than the frequencies.
DisplayCurve prepareDisplayCurve(const CurveRecord &record);

// Adds a corner filter's level and phase at each frequency to `levelDb` and `phaseDeg`; side 0 is
// the high-pass, 1 the low-pass. A corner that is off, at 0 Hz or of order 0 adds nothing. Each
// list is updated as far as it reaches; a shorter list keeps its length.
void addCornerResponse(const QList<float> &freq, const Corner &corner, int side,
                       QList<float> &levelDb, QList<float> &phaseDeg);

// Two curves on one grid summed in phase (as a main system and a subwoofer add up), over the
// shorter length.
QList<float> combineCurves(const QList<float> &a, const QList<float> &b);

// y(x) read at each target by linear interpolation, holding the end values. All zeros when x has
// fewer than 2 values or y another length than x.
QList<float> interpolateCurve(const QList<float> &x, const QList<float> &y,
                              const QList<float> &targets);

// A copy of the phase list in which each step is the shortest turn from the previous value.
QList<float> unwrapPhase(const QList<float> &degrees);

} // namespace snt::eq
