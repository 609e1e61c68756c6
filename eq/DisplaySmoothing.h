#pragma once

#include "engine/dsp/Curve.h"

#include <QList>

#include <utility>

// Fractional-octave smoothing of the curves the charts show. Both smoothings give one value per
// input point, so a smoothed curve replaces the raw one point for point.
namespace snt::eq {

// The curve read on a 1/192-octave grid from its first frequency up to its last, by linear
// interpolation over log frequency; `outFreq` is cleared and receives the grid. A curve of fewer
// than 8 points, with lists of unequal length or without a positive rising span leaves `outFreq`
// empty and comes back unchanged.
QList<float> resampleLogUniform(const QList<float> &freq, const QList<float> &values,
                                QList<float> &outFreq);

// The level curve smoothed at 1/n octave, on its own frequencies. Dense FFT data is first brought
// onto the fine log grid, so that the high octaves with their many bins weigh no more than the low
// ones. For n ≤ 0, fewer than 8 points or lists of unequal length: the values unchanged.
QList<float> smoothCurve(const QList<float> &freq, const QList<float> &values, int n);

// The smoothing of `smoothCurve` read at the ascending frequencies `at` instead of the curve's
// own. Only for curves that smoothCurve smooths.
QList<float> smoothCurveAt(const QList<float> &freq, const QList<float> &values, int n,
                           const QList<float> &at);

// The points smoothCurve reads of a curve with these frequencies: curves that agree at these points
// smooth alike. Every point where smoothing reads them all.
QList<qsizetype> smoothingSupport(const QList<float> &freq);

// The phase curve (degrees) smoothed at 1/n octave, unwrapped, on its own frequencies. Unit
// phasors are averaged instead of angles, so that a phase wrapping at ±180° does not cancel to 0.
// The first and last points within 20 Hz to 20 kHz keep their raw phase. For n ≤ 0, fewer than 8
// points or lists of unequal length: the phase unchanged.
QList<float> complexSmooth(const QList<float> &freq, const QList<float> &phaseDeg, int n);

// A phase as unit phasors, one per point.
struct Phasors
{
    QList<float> cos;
    QList<float> sin;
};

Phasors unitPhasors(const QList<float> &phaseDeg);

// The first and last points within 20 Hz to 20 kHz, where a smoothed phase keeps its raw value;
// {-1, -1} unless there are two.
std::pair<qsizetype, qsizetype> phaseAnchors(const QList<float> &freq);

// The smoothed phase of a phase known as unit phasors at every point and as angles only at its
// anchors: the first as the phase list holds it, the second at any whole number of turns from
// that. A caller that has the phasors (turned by an EQ's response, say) needs no angle per point.
// Empty where complexSmooth leaves the phase as it is. The result holds points in ascending
// frequency with their phase in degrees, unwrapped.
math::Curve smoothedPhase(const QList<float> &freq, const Phasors &phasors, float firstAnchorDeg,
                          float lastAnchorDeg, int n);

// The smoothed phase read at ascending frequencies, by linear interpolation over log frequency.
QList<float> readPhase(const math::Curve &phase, const QList<float> &freq);

} // namespace snt::eq
