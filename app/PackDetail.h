#pragma once

#include "eq/Records.h"

#include <QVariantList>
#include <QVariantMap>

struct CurvePack;

// The curves the curve window draws for one saved pack, as chart point lists, by what the pack
// holds: a subwoofer alignment with both captures or with its three named curves, or an ordinary
// pack (a line array adding one curve per measured point). `smoothBands` is the chart's display
// smoothing (1/N octave, 0 none). The pack's captures and per-point curves must already be
// loaded; what is missing gives empty lists.
class PackDetail
{
public:
    static QVariantMap curves(const CurvePack &pack, int smoothBands);

    // The before/after map of a preview: "before", "after", "phaseBefore", "phaseAfter" and
    // "coherence" over its grid, and "target" when it has an auxiliary curve. Empty when the
    // preview is not valid.
    static QVariantMap schemeCurves(const snt::eq::DisplayCurve &preview);
    // The same curves as QList<QPointF> (x the frequency, y the value).
    static QVariantMap schemeCurvePoints(const snt::eq::DisplayCurve &preview);

    // A capture's phase (at least 8 points) with the delay put back and an offset taken off,
    // unwrapped and smoothed at 1/smoothBands octave, as one point per frequency.
    static QVariantList capturePhase(const QList<float> &freq, const QList<float> &phase,
                                     double delayMs, double offsetDeg, int smoothBands);
};
