#pragma once

#include "engine/dsp/Curve.h"

#include <QList>

// Fractional-octave (octave-bin) smoothing: the curve is averaged in bins 1/n octave wide that
// start at 11.71875 Hz, and the bin means are smoothed once more with a (1, 4, 1)/6 kernel.
namespace snt::eq {

struct OctaveBinCurve
{
    QList<double> freq;
    QList<double> values;
};

// The smoothed curve at the bin centres (bin 0 only serves as a neighbour). Empty for fewer than
// two usable points or fewer than two occupied bins.
OctaveBinCurve octaveBinSmooth(const QList<float> &freq, const QList<float> &values, int n);

// The same as float lists for n > 0; the input unchanged otherwise.
math::Curve octaveBinSmoothFloat(const QList<float> &freq, const QList<float> &values, int n);

// The 1/n-octave smoothed curve (n ≤ 0: the curve itself) read on `grid` by linear
// interpolation over log frequency, holding the end values. Unusable input gives -100 dB.
QList<float> smoothToGrid(const QList<float> &freq, const QList<float> &values,
                          const QList<float> &grid, int n);

} // namespace snt::eq
