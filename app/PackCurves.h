#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

struct CurvePack;

// The curve maths of saved packs that the curve window and the text export share. Frequencies
// in Hz, levels in dB, phases in degrees, delays in ms.

// The use of a line-array pack.
inline const QString lineArrayUse = QStringLiteral("线阵列");

// The phase with the delay put back, each value turned into −180 … 180. Empty unless there are
// at least 8 frequencies and exactly as many phases.
QList<float> compensatedPhase(const QList<float> &freq, const QList<float> &phase, double delayMs);

// A line-array point's levels (linear magnitudes, floored at 1e-9) in dB relative to its mean
// level over 225 … 8800 Hz, over the shorter of the two lists; the points of an array then share
// one level and show only their differences.
QList<float> bandRelativeDb(const QList<float> &freq, const QList<float> &magnitude);

// The pack's first capture with its EQ bands, both corners and low-cut suspicion, smoothed at
// 1/smoothBands octave, for a before/after preview.
snt::eq::CurveRecord packCurveRecord(const CurvePack &pack, int smoothBands);

// A line-array pack whose per-point curves are loaded.
bool hasPointCurves(const CurvePack &pack);

// Loads what the pack keeps in files and does not hold yet: its captures and, for a line array,
// its per-point curves. What cannot be read stays empty. Returns, for a file refused as no
// regular file, a sentence for the user that names it; else empty.
QString loadPackCurves(CurvePack &pack);
