#pragma once

#include "eq/Records.h"

#include <QList>

struct CurvePack;

// The curve maths behind the bridge's chart feeds: a measured curve (linear magnitudes) as the
// display curve the charts draw, the average of the captured measuring points, and the curves a
// saved result keeps. Frequencies in Hz, levels in dB, phases in degrees.

// The flow a curve was measured in: a line array's levels are referred to its 1 kHz region and
// its points to their common band level; a single loudspeaker's to its flattest stretch.
enum class Flow { PointSource, LineArray };

// Whether a display curve shows absolute levels or levels relative to the curve's own base level.
enum class LevelScale { Absolute, Relative };

// 20·log10(magnitude) (−100 dB for magnitudes ≤ 0) minus the curve's estimated base level,
// each point clamped to −60 … +30 dB.
QList<float> normalizedDb(const QList<float> &freq, const QList<float> &magnitude,
                          const QList<float> &coherence, Flow flow);

// The measured curve smoothed at 1/6 octave on the 480-point display grid, levels absolute
// (−100 dB at or below 1e-9) or relative as `normalizedDb`. Coherence may be empty. Fewer than 8
// points give an invalid, empty display curve.
snt::eq::DisplayCurve displayCurve(const QList<float> &freq, const QList<float> &magnitude,
                                   const QList<float> &coherence, LevelScale scale, Flow flow);

// The upper median of the magnitudes above 1e-9 in dB; 0 when there is none.
double measureCurveCenter(const QList<float> &magnitude);

// Mean level in dB (magnitudes floored at 1e-9) of the finite values between lo and hi Hz; 0
// when there is none.
double bandLevelDb(const QList<float> &freq, const QList<float> &magnitude, double lo, double hi);

// The captured points averaged on the first point's frequencies: per bin the coherence-weighted
// mean of the points' dB levels (weight max(c, 0.05), c = 0.5 where a point has no coherence),
// line-array points first referred to their 225–8800 Hz band level and the average then raised
// by the mean of those band levels, so that it lies among its points; the coherence is the
// points' median for a line array, else their mean; the phase is the latest point's that fits
// the grid. Empty without points.
snt::eq::Measured averagePoints(const QList<snt::eq::Measured> &points, Flow flow);

// The result curves a saved pack keeps: the snapshot's levels relative to the scheme's level
// (or the curve's mid-band level when the scheme has none), floored at −60 dB, with the
// snapshot's phase and coherence (1.0 everywhere without one). The pack's capture lists are left
// empty without a scheme or for a snapshot of fewer than 8 points.
void fillPackCurves(CurvePack &pack, const snt::eq::Measured &snapshot,
                    const snt::eq::Scheme *scheme);

// The phase with the delay put back, unwrapped, smoothed at 1/smoothBands octave (none for 0)
// and read on `grid`. Empty for fewer than 8 points or a phase list of another length.
QList<float> exportPhase(const QList<float> &freq, const QList<float> &phase, double delayMs,
                         int smoothBands, const QList<float> &grid);
