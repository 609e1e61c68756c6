#pragma once

#include <QVariantList>

#include <memory>

class AppCore;
class MeasuringFlow;
struct CurveFeedCache;
struct DisplaySource;

// The chart feeds of the measuring screens: the live curve, the captured points and their
// average as point lists of at most 480 points, made once per change and read from the cache on
// every further read.
class MeasuringFeeds
{
public:
    MeasuringFeeds(const AppCore &core, const MeasuringFlow &measuring);
    ~MeasuringFeeds();

    QVariantList measuredCurve() const;
    QVariantList measuringCurveFlat() const;
    QVariantList measuringCoherence() const;
    QVariantList measuringCoherenceFlat() const;
    QVariantList latestMeasurementCurve() const;
    QVariantList measurementHistoryCurves() const;
    QVariantList measurementPointCurves() const;
    QVariantList averageMeasurementCurve() const;
    double measureCurveCenter() const;

private:
    DisplaySource liveAbsoluteSource() const;
    bool hasMeasuredCurve() const;
    bool hasMeasuredCoherence() const;
    QVariantList liveRelativeCurve() const;
    QVariantList pointCurve(qsizetype index) const;

    const AppCore &core_;
    const MeasuringFlow &measuring_;
    // Display curves kept while the lists they were made from stay the same.
    std::unique_ptr<CurveFeedCache> feeds_;
};
