#include "app/ChartPoints.h"

#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

constexpr float lowestChartHz = 20.0f;
constexpr float highestPickedHz = 20000.0f;
constexpr double highestSentHz = 20000.01;

QList<int> allIndices(qsizetype from, qsizetype to)
{
    QList<int> indices;
    indices.reserve(to - from);
    for (qsizetype i = from; i < to; ++i)
        indices.append(int(i));
    return indices;
}

QList<int> everyStep(qsizetype n, int budget)
{
    const qsizetype step = std::max<qsizetype>(n / budget, 1);
    QList<int> indices;
    for (qsizetype i = 0; i < n; i += step)
        indices.append(int(i));
    if (indices.last() != n - 1)
        indices.append(int(n - 1));
    return indices;
}

// Nearest points to `budget` frequencies evenly spaced in log frequency over [s, e).
QList<int> logSpacedPick(const QList<float> &freq, qsizetype s, qsizetype n, int budget)
{
    qsizetype e = n;
    while (e > s + 2 && freq[e - 1] > highestPickedHz)
        --e;
    if (e - s < 2)
        e = n;
    const double lo = std::log(double(freq[s]));
    const double hi = std::log(double(freq[e - 1]));
    const auto begin = freq.cbegin();
    QList<int> indices;
    indices.reserve(budget);
    qsizetype from = s;
    for (int k = 0; k < budget; ++k) {
        const double t = std::exp(lo + k * (hi - lo) / (budget - 1));
        // Targets rise, so each search starts where the last one ended.
        qsizetype j = std::lower_bound(begin + from, begin + e, t,
                                       [](float f, double target) { return f < target; })
                      - begin;
        if (j >= e)
            j = e - 1;
        from = j;
        if (j > s && std::abs(std::log(freq[j - 1] / t)) < std::abs(std::log(freq[j] / t)))
            --j;
        if (indices.isEmpty() || indices.last() != j)
            indices.append(int(j));
    }
    return indices;
}

bool sendable(double f, double value)
{
    return std::isfinite(f) && std::isfinite(value) && f <= highestSentHz;
}

template<typename Take>
void visitChartPoints(const QList<float> &freq, const QList<float> &values, int budget, Take take)
{
    const qsizetype n = std::min(freq.size(), values.size());
    for (const int i : makeChartPoints(freq, n, budget)) {
        if (sendable(freq[i], values[i]))
            take(double(freq[i]), double(values[i]));
    }
}

} // namespace

QList<int> makeChartPoints(const QList<float> &freq, qsizetype n, int budget)
{
    n = std::min(n, freq.size());
    if (n < 1)
        return {};
    budget = std::max(budget, 2);
    if (n <= budget)
        return allIndices(0, n);
    const qsizetype s = std::find_if(freq.cbegin(), freq.cbegin() + n,
                                     [](float f) { return f >= lowestChartHz; })
                        - freq.cbegin();
    if (s >= n - 1)
        return allIndices(0, n);
    if (n - s <= budget)
        return allIndices(s, n);
    if (!std::is_sorted(freq.cbegin() + s, freq.cbegin() + n))
        return everyStep(n, budget);
    return logSpacedPick(freq, s, n, budget);
}

QVariantList plotPoints(const QList<float> &freq, const QList<float> &values, int budget)
{
    QVariantList points;
    visitChartPoints(freq, values, budget, [&points](double f, double d) {
        points.append(QVariantMap{{QStringLiteral("f"), f}, {QStringLiteral("d"), d}});
    });
    return points;
}

QList<QPointF> chartPoints(const QList<float> &freq, const QList<float> &values, int budget)
{
    QList<QPointF> points;
    visitChartPoints(freq, values, budget, [&points](double f, double d) {
        points.append({f, d});
    });
    return points;
}

QVariantList flatPairs(const QList<float> &freq, const QList<float> &values, int budget)
{
    QVariantList points;
    visitChartPoints(freq, values, budget, [&points](double f, double d) {
        points.append(f);
        points.append(d);
    });
    return points;
}
