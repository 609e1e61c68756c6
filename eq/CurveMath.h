#pragma once

#include <QList>

#include <algorithm>
#include <cmath>

// Small numeric rules that every part of the EQ engine shares, written once.
namespace snt::eq {

// Rounds to one decimal, halves away from zero (0.1 Hz corners, 0.1 dB depth limits).
inline double roundToTenth(double value)
{
    return std::round(value * 10.0) / 10.0;
}

// Unwraps a phase list in degrees in place: each step becomes the shortest turn from the last.
inline void unwrapDegrees(QList<float> &phase)
{
    float *p = phase.data();
    for (qsizetype i = 1; i < phase.size(); ++i)
        p[i] = float(p[i - 1] + std::remainder(double(p[i]) - p[i - 1], 360.0));
}

// Reads a curve at one frequency by linear interpolation over log frequency, holding the first and
// last values outside its range. `j` is the segment to start from; it only moves forward, so an
// ascending run of look-ups walks the curve once. The curve holds n ≥ 2 points.
template<typename F, typename V>
double interpolateLogFrequency(const F *freq, const V *values, qsizetype n, double f, qsizetype &j)
{
    if (f <= freq[0])
        return values[0];
    if (f >= freq[n - 1])
        return values[n - 1];
    while (j + 2 < n && f > freq[j + 1])
        ++j;
    const double f0 = freq[j];
    const double f1 = freq[j + 1];
    if (f0 > 0.0 && f0 < f1) {
        const double t = std::clamp(std::log(f / f0) / std::log(f1 / f0), 0.0, 1.0);
        return values[j] + t * (double(values[j + 1]) - values[j]);
    }
    return values[j];
}

} // namespace snt::eq
