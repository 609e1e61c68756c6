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

// The IEEE remainder of x by 360 (std::remainder(x, 360.0), bit for bit): x turned by whole turns
// into [-180, 180], an exact half turn going to the even quotient. The library routine handles any
// divisor and is several times slower; phase lists need this one at every point.
inline double remainder360(double x)
{
    if (!(std::abs(x) < 1e12))
        return std::remainder(x, 360.0);
    const double quotient = x * (1.0 / 360.0);
    qint64 turns = qint64(quotient + (quotient < 0.0 ? -0.5 : 0.5));
    double r = x - double(turns) * 360.0; // exact: the two terms lie within a factor of two
    // The rounded quotient may be one off next to a half turn.
    if (r > 180.0) {
        r -= 360.0;
        ++turns;
    } else if (r < -180.0) {
        r += 360.0;
        --turns;
    }
    if (std::abs(r) == 180.0 && turns % 2 != 0)
        r = -r;
    return r == 0.0 ? std::copysign(0.0, x) : r;
}

// The angle of (x, y) in radians, as std::atan2, to within 1e-8 rad and several times quicker: a
// chart's phase needs one at every point. The ratio is brought into [-tan 15°, tan 15°] by
// atan(r) = 30° + atan((r·√3 - 1)/(r + √3)), where the series r - r³/3 + r⁵/5 - … up to r¹¹
// leaves an error below 3e-9.
inline double quickAtan2(double y, double x)
{
    constexpr double pi = 3.14159265358979323846;
    constexpr double sqrt3 = 1.73205080756887729353;
    constexpr double tan15 = 0.26794919243112270647;
    const double ax = std::abs(x);
    const double ay = std::abs(y);
    if (!(std::max(ax, ay) > 0.0) || !std::isfinite(ax + ay))
        return std::atan2(y, x);
    const bool steep = ay > ax;
    double r = steep ? ax / ay : ay / ax; // in [0, 1]
    double offset = 0.0;
    if (r > tan15) {
        r = (r * sqrt3 - 1.0) / (r + sqrt3);
        offset = pi / 6.0;
    }
    // Horner's scheme for r·(1 - r²/3 + r⁴/5 - r⁶/7 + r⁸/9 - r¹⁰/11).
    const double r2 = r * r;
    double series = -1.0 / 11.0;
    for (const double c : {1.0 / 9.0, -1.0 / 7.0, 1.0 / 5.0, -1.0 / 3.0, 1.0})
        series = series * r2 + c;
    double angle = offset + r * series;
    if (steep)
        angle = pi / 2.0 - angle;
    if (x < 0.0)
        angle = pi - angle;
    return std::copysign(angle, y);
}

// Unwraps a phase list in degrees in place: each step becomes the shortest turn from the last.
// Steps of at most half a turn stay as they are, so the chain of turns starts at the first wider
// step: smoothed curves are mostly unwrapped already, and checking steps is far quicker than the
// chain.
inline void unwrapDegrees(QList<float> &phase)
{
    const qsizetype n = phase.size();
    const float *steps = phase.constData();
    qsizetype first = 1;
    while (first < n && std::abs(double(steps[first]) - steps[first - 1]) <= 180.0)
        ++first;
    if (first >= n)
        return;
    float *p = phase.data();
    for (qsizetype i = first; i < n; ++i)
        p[i] = float(p[i - 1] + remainder360(double(p[i]) - p[i - 1]));
}

} // namespace snt::eq
