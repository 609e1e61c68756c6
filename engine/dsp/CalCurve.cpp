#include "engine/dsp/CalCurve.h"

#include <algorithm>
#include <cmath>

void CalCurve::setPoints(QList<Point> points)
{
    points_ = {};
    lut_.clear();
    std::stable_sort(points.begin(), points.end(),
                     [](const Point &a, const Point &b) { return a.first < b.first; });
    points_.freq.reserve(points.size());
    points_.values.reserve(points.size());
    for (const Point &p : points) {
        points_.freq.append(p.first);
        points_.values.append(p.second);
    }
}

math::LogFrequencyReader<float, float> CalCurve::reader() const
{
    return {points_.freq.constData(), points_.values.constData(), points_.freq.size()};
}

float CalCurve::gainDbAt(float frequency) const
{
    if (isEmpty())
        return 0.0f;
    return float(reader()(frequency));
}

void CalCurve::buildLut(const QList<float> &binFrequencies)
{
    lut_.fill(1.0f, binFrequencies.size());
    if (isEmpty() || binFrequencies.isEmpty())
        return;
    auto read = reader();
    for (qsizetype bin = 0; bin < binFrequencies.size(); ++bin)
        lut_[bin] = std::pow(10.0f, float(read(binFrequencies[bin])) * 0.05f);
}

float CalCurve::gainForBin(int bin) const
{
    if (bin < 0 || bin >= lut_.size())
        return 1.0f;
    return lut_[bin];
}
