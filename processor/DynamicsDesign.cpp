#include "processor/DynamicsDesign.h"

#include <algorithm>
#include <cmath>

namespace processor {

namespace {

constexpr double zeroDbuVolts = 0.775;
constexpr double longestTimeMs = 10000.0;

// Rounded to whole ms within 0 … 10000, halves upwards.
double timeMs(double ms)
{
    return std::floor(std::clamp(ms, 0.0, longestTimeMs) + 0.5);
}

} // namespace

Dynamics designDynamics(const DynamicsRatings &r)
{
    const double gainLinear = r.byGain
                                      ? std::pow(10.0, r.gainDb / 20.0)
                                      : std::sqrt(std::max(1.0, r.ampPower) * std::max(1.0, r.ampZ))
                                                / std::max(0.05, r.sensV);
    const double g = std::max(0.0001, gainLinear);
    const double vRmsMax = std::sqrt(std::max(1.0, r.spkPower) * std::max(1.0, r.spkZ));
    const double vPkMax = std::sqrt(std::max(1.0, r.spkPower) * 4.0 * std::max(1.0, r.spkZ));
    const double release = r.lowCut > 0.0 ? timeMs(20000.0 / r.lowCut) : 200.0;
    Dynamics d;
    d.compThrd = 20.0 * std::log10(vRmsMax / g / zeroDbuVolts);
    d.limThrd = 20.0 * std::log10(vPkMax / g / zeroDbuVolts);
    d.compAttack = r.lowCut > 0.0 ? timeMs(2000.0 / r.lowCut) : 20.0;
    d.compRelease = release;
    d.limRelease = release;
    d.compKnee = 30.0;
    d.compRatio = 20.0;
    return d;
}

double compressedLevel(double inputDb, double thresholdDb, double kneeDb, double ratio)
{
    const double k = std::max(0.0, kneeDb);
    const double r = std::max(1.0, ratio);
    const double t = thresholdDb;
    const double x = inputDb;
    if (k <= 0.001)
        return x <= t ? x : t + (x - t) / r;
    const double lo = t - k / 2.0;
    const double hi = t + k / 2.0;
    if (x <= lo)
        return x;
    if (x >= hi)
        return t + (x - t) / r;
    return x + (1.0 / r - 1.0) * (x - lo) * (x - lo) / (2.0 * k);
}

DynamicsRatings ratingsFromMap(const QVariantMap &map)
{
    DynamicsRatings r;
    const auto number = [&map](const char *key, double fallback) {
        return map.value(QLatin1String(key), fallback).toDouble();
    };
    r.spkPower = number("spkPower", r.spkPower);
    r.spkZ = number("spkZ", r.spkZ);
    r.lowCut = number("lowCut", r.lowCut);
    r.byGain = map.value(QStringLiteral("byGain"), r.byGain).toBool();
    r.sensV = number("sensV", r.sensV);
    r.ampPower = number("ampPower", r.ampPower);
    r.ampZ = number("ampZ", r.ampZ);
    r.gainDb = number("gainDb", r.gainDb);
    return r;
}

QVariantMap dynamicsToMap(const Dynamics &d)
{
    return {{QStringLiteral("compThrd"), d.compThrd},
            {QStringLiteral("limThrd"), d.limThrd},
            {QStringLiteral("compAttack"), d.compAttack},
            {QStringLiteral("compRelease"), d.compRelease},
            {QStringLiteral("limRelease"), d.limRelease},
            {QStringLiteral("compKnee"), d.compKnee},
            {QStringLiteral("compRatio"), d.compRatio}};
}

} // namespace processor
