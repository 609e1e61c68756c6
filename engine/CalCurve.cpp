#include "engine/CalCurve.h"

#include <algorithm>
#include <cmath>

void CalCurve::setPoints(QList<Point> points)
{
    frequencies_.clear();
    gainsDb_.clear();
    lut_.clear();
    std::stable_sort(points.begin(), points.end(),
                     [](const Point &a, const Point &b) { return a.first < b.first; });
    frequencies_.reserve(points.size());
    gainsDb_.reserve(points.size());
    for (const Point &p : points) {
        frequencies_.append(p.first);
        gainsDb_.append(p.second);
    }
}

float CalCurve::interpolate(qsizetype segment, float frequency) const
{
    const float f0 = frequencies_[segment];
    const float f1 = frequencies_[segment + 1];
    const float g0 = gainsDb_[segment];
    const float g1 = gainsDb_[segment + 1];
    const float span = std::log10(f1) - std::log10(f0);
    // Two points at one frequency form a step; the frequency itself takes the first of them.
    if (span <= 0.0f)
        return g0;
    return g0 + (std::log10(frequency) - std::log10(f0)) / span * (g1 - g0);
}

float CalCurve::gainDbAt(float frequency) const
{
    if (frequencies_.isEmpty())
        return 0.0f;
    if (frequency <= frequencies_.front())
        return gainsDb_.front();
    if (frequency >= frequencies_.back())
        return gainsDb_.back();
    for (qsizetype i = 0; i + 1 < frequencies_.size(); ++i)
        if (frequencies_[i] <= frequency && frequency <= frequencies_[i + 1])
            return interpolate(i, frequency);
    return gainsDb_.back(); // only a NaN frequency gets here
}

void CalCurve::buildLut(const QList<float> &binFrequencies)
{
    lut_.fill(1.0f, binFrequencies.size());
    if (frequencies_.isEmpty() || binFrequencies.isEmpty())
        return;
    const qsizetype last = frequencies_.size() - 1;
    qsizetype segment = 0;
    for (qsizetype bin = 0; bin < binFrequencies.size(); ++bin) {
        const float f = binFrequencies[bin];
        float gain;
        if (f <= frequencies_.front()) {
            gain = gainsDb_.front();
        } else if (f >= frequencies_.back()) {
            gain = gainsDb_.back();
        } else {
            while (segment + 1 < last && f > frequencies_[segment + 1])
                ++segment;
            gain = interpolate(segment, f);
        }
        lut_[bin] = std::pow(10.0f, gain * 0.05f);
    }
}

float CalCurve::gainForBin(int bin) const
{
    if (bin < 0 || bin >= lut_.size())
        return 1.0f;
    return lut_[bin];
}
