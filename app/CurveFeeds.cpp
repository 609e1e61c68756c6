#include "app/CurveFeeds.h"

#include "app/store/CurvePack.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"
#include "eq/DisplaySmoothing.h"

#include <algorithm>
#include <cmath>
#include <numeric>

using snt::eq::Measured;

namespace {

constexpr int displaySmoothing = 6; // 1/6 octave, whatever the user's chart setting
constexpr qsizetype minimumPoints = 8;
constexpr double silentDb = -100.0;
constexpr double floorMagnitude = 1e-9;
constexpr float missingCoherence = 0.5f;
constexpr float leastWeight = 0.05f;
constexpr double bandLowHz = 225.0;
constexpr double bandHighHz = 8800.0;
constexpr float packFloorDb = -60.0f;

double amplitudeDb(float magnitude)
{
    return 20.0 * std::log10(std::max(double(magnitude), floorMagnitude));
}

double median(QList<float> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (double(values[mid - 1]) + values[mid]) / 2.0;
}

// The point's coherence at bin k as the average weighs it.
float coherenceAt(const Measured &point, qsizetype k)
{
    if (k >= point.coherence.size() || !std::isfinite(point.coherence[k]))
        return missingCoherence;
    return std::clamp(point.coherence[k], 0.0f, 1.0f);
}

// The latest point whose phase has one value per grid frequency; none gives no phase.
QList<float> latestFittingPhase(const QList<Measured> &points, qsizetype n)
{
    for (auto it = points.crbegin(); it != points.crend(); ++it) {
        if (it->phase.size() == n)
            return it->phase;
    }
    return {};
}

} // namespace

QList<float> normalizedDb(const QList<float> &freq, const QList<float> &magnitude,
                          const QList<float> &coherence, Flow flow)
{
    QList<float> db;
    db.reserve(magnitude.size());
    for (const float m : magnitude)
        db.append(m > 0.0f ? float(20.0 * std::log10(double(m))) : float(silentDb));
    const double base = snt::eq::estimateBaseLevel(freq, db, coherence, flow == Flow::LineArray);
    for (float &v : db)
        v = float(std::clamp(v - base, -60.0, 30.0));
    return db;
}

snt::eq::DisplayCurve displayCurve(const QList<float> &freq, const QList<float> &magnitude,
                                   const QList<float> &coherence, LevelScale scale, Flow flow)
{
    if (freq.size() < minimumPoints)
        return {};
    snt::eq::CurveRecord record;
    record.freq = freq;
    record.levelDb = scale == LevelScale::Relative ? normalizedDb(freq, magnitude, coherence, flow)
                                                   : snt::eq::toDb(magnitude);
    record.coherence = coherence;
    record.smoothBands = displaySmoothing;
    return snt::eq::prepareDisplayCurve(record);
}

double measureCurveCenter(const QList<float> &magnitude)
{
    QList<double> db;
    for (const float m : magnitude) {
        if (m > floorMagnitude)
            db.append(20.0 * std::log10(double(m)));
    }
    if (db.isEmpty())
        return 0.0;
    const auto middle = db.begin() + db.size() / 2;
    std::nth_element(db.begin(), middle, db.end());
    return *middle;
}

double bandLevelDb(const QList<float> &freq, const QList<float> &magnitude, double lo, double hi)
{
    const qsizetype n = std::min(freq.size(), magnitude.size());
    double sum = 0.0;
    int count = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const double db = amplitudeDb(magnitude[i]);
        if (freq[i] >= lo && freq[i] <= hi && std::isfinite(db)) {
            sum += db;
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

Measured averagePoints(const QList<Measured> &points, Flow flow)
{
    if (points.isEmpty())
        return {};
    const qsizetype n = points.first().freq.size();
    QList<double> offsets;
    for (const Measured &point : points) {
        offsets.append(flow == Flow::LineArray
                               ? bandLevelDb(point.freq, point.magnitude, bandLowHz, bandHighHz)
                               : 0.0);
    }
    // Referred to their band levels the points average by shape alone; the mean of those levels
    // puts the average back where the points lie, so identical points average to themselves.
    const double commonLevel
            = std::accumulate(offsets.cbegin(), offsets.cend(), 0.0) / double(offsets.size());
    Measured average;
    average.freq = points.first().freq;
    average.magnitude.fill(0.0f, n);
    average.coherence.fill(0.0f, n);
    QList<float> weights;
    for (qsizetype k = 0; k < n; ++k) {
        double weightedDb = 0.0;
        double weightSum = 0.0;
        weights.clear();
        for (qsizetype i = 0; i < points.size(); ++i) {
            const Measured &point = points[i];
            if (k >= point.magnitude.size() || !std::isfinite(point.magnitude[k]))
                continue;
            const float c = coherenceAt(point, k);
            const double w = std::max(c, leastWeight);
            weightedDb += w * (amplitudeDb(point.magnitude[k]) - offsets[i]);
            weightSum += w;
            weights.append(c);
        }
        if (weightSum > 0.0)
            average.magnitude[k]
                    = float(std::pow(10.0, (weightedDb / weightSum + commonLevel) / 20.0));
        if (weights.isEmpty())
            continue;
        average.coherence[k]
                = flow == Flow::LineArray
                          ? float(median(weights))
                          : float(std::accumulate(weights.cbegin(), weights.cend(), 0.0)
                                  / weights.size());
    }
    average.phase = latestFittingPhase(points, n);
    return average;
}

void fillPackCurves(CurvePack &pack, const Measured &snapshot, const snt::eq::Scheme *scheme)
{
    pack.freq.clear();
    pack.level.clear();
    pack.phase.clear();
    pack.coherence.clear();
    const qsizetype n = snapshot.freq.size();
    if (!scheme || n < minimumPoints || snapshot.magnitude.size() != n)
        return;
    const QList<float> db = snt::eq::toDb(snapshot.magnitude);
    const double reference
            = scheme->hasLevel ? scheme->level : snt::eq::midbandMeanLevel(snapshot.freq, db);
    pack.freq = snapshot.freq;
    pack.level.reserve(n);
    for (const float v : db)
        pack.level.append(std::max(float(v - reference), packFloorDb));
    if (snapshot.phase.size() == n)
        pack.phase = snapshot.phase;
    pack.coherence = snapshot.coherence.size() == n ? snapshot.coherence : QList<float>(n, 1.0f);
}

QList<float> exportPhase(const QList<float> &freq, const QList<float> &phase, double delayMs,
                         int smoothBands, const QList<float> &grid)
{
    const qsizetype n = freq.size();
    if (n < minimumPoints || phase.size() != n)
        return {};
    QList<float> p(n);
    for (qsizetype i = 0; i < n; ++i)
        p[i] = float(snt::eq::remainder360(freq[i] * (delayMs * 360.0) / 1000.0 + phase[i]));
    snt::eq::unwrapDegrees(p);
    if (smoothBands > 0)
        p = snt::eq::complexSmooth(freq, p, smoothBands);
    p = snt::eq::unwrapPhase(p);
    if (grid != freq)
        p = snt::eq::interpolateCurve(freq, p, grid);
    return p;
}
