#include "eq/OctaveSmoothing.h"

#include "engine/dsp/Curve.h"
#include "eq/CurveMath.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace snt::eq {

namespace {

constexpr double firstBinEdge = 11.71875;

struct Point
{
    double f;
    double v;
};

std::vector<Point> ascendingPoints(const QList<float> &freq, const QList<float> &values)
{
    const qsizetype m = std::min(freq.size(), values.size());
    std::vector<Point> points(size_t(std::max<qsizetype>(m, 0)));
    for (qsizetype i = 0; i < m; ++i)
        points[size_t(i)] = {freq[i], values[i]};
    const auto byFrequency = [](const Point &a, const Point &b) {
        return a.f < b.f;
    };
    if (!std::is_sorted(points.begin(), points.end(), byFrequency))
        std::sort(points.begin(), points.end(), byFrequency);
    return points;
}

} // namespace

OctaveBinCurve octaveBinSmooth(const QList<float> &freq, const QList<float> &values, int n)
{
    OctaveBinCurve result;
    if (n <= 0)
        return result;
    const std::vector<Point> points = ascendingPoints(freq, values);
    if (points.size() < 2)
        return result;

    const double ratio = std::pow(2.0, 1.0 / n);
    QList<double> binFreq;
    QList<double> binMean;
    double lower = firstBinEdge;
    double upper = firstBinEdge * ratio;
    double sum = 0.0;
    int count = 0;
    const auto closeBin = [&] {
        if (count > 0) {
            binFreq.append((lower + upper) / 2.0);
            binMean.append(sum / count);
        }
        sum = 0.0;
        count = 0;
    };
    for (size_t i = 1; i < points.size(); ++i) {
        const Point &p = points[i];
        if (p.f < firstBinEdge)
            continue;
        while (p.f > upper) {
            closeBin();
            lower = upper;
            upper *= ratio;
        }
        sum += p.v;
        ++count;
    }
    closeBin();

    const qsizetype bins = binFreq.size();
    if (bins < 2)
        return result;
    const double highest = points.back().f;
    result.freq.reserve(bins - 1);
    result.values.reserve(bins - 1);
    for (qsizetype k = 1; k < bins; ++k) {
        const double next = k + 1 < bins ? binMean[k + 1] : binMean[k];
        result.freq.append(std::min(binFreq[k], highest));
        result.values.append((binMean[k - 1] + 4.0 * binMean[k] + next) / 6.0);
    }
    return result;
}

math::Curve octaveBinSmoothFloat(const QList<float> &freq, const QList<float> &values, int n)
{
    if (n <= 0)
        return {freq, values};
    const OctaveBinCurve smoothed = octaveBinSmooth(freq, values, n);
    math::Curve result;
    result.freq.reserve(smoothed.freq.size());
    result.values.reserve(smoothed.values.size());
    for (qsizetype i = 0; i < smoothed.freq.size(); ++i) {
        result.freq.append(float(smoothed.freq[i]));
        result.values.append(float(smoothed.values[i]));
    }
    return result;
}

QList<float> smoothToGrid(const QList<float> &freq, const QList<float> &values,
                          const QList<float> &grid, int n)
{
    if (freq.size() < 2 || values.size() != freq.size())
        return QList<float>(grid.size(), -100.0f);

    QList<double> f;
    QList<double> v;
    if (n > 0) {
        const OctaveBinCurve smoothed = octaveBinSmooth(freq, values, n);
        if (smoothed.freq.size() < 2)
            return QList<float>(grid.size(), values.last());
        f = smoothed.freq;
        v = smoothed.values;
    } else {
        for (qsizetype i = 0; i < freq.size(); ++i) {
            f.append(freq[i]);
            v.append(values[i]);
        }
    }
    QList<float> result(grid.size());
    math::LogFrequencyReader read(f.constData(), v.constData(), f.size());
    for (qsizetype i = 0; i < grid.size(); ++i)
        result[i] = float(read(grid[i]));
    return result;
}

} // namespace snt::eq
