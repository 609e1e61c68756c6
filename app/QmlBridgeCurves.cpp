// The chart feeds of the measuring screens: the live curve, the captured points and their
// average as point lists of at most 480 points, made once per change and read from the cache
// on every further read.
#include "app/AppCore.h"
#include "app/CurveFeedCache.h"
#include "app/QmlBridge.h"

namespace {

using Form = DisplayCurveCache::Form;

DisplaySource pointSource(const snt::eq::Measured &point)
{
    return {point.freq, point.magnitude, {}, LevelScale::Absolute, Flow::PointSource};
}

} // namespace

// The live curve as the absolute level feeds show it. The coherence of a display curve does not
// depend on how its levels are scaled, so the coherence feeds come from the same display curve.
DisplaySource QmlBridge::liveAbsoluteSource() const
{
    return {core_->measuredFreq, core_->measuredMagnitude, core_->measuredCoherence,
            LevelScale::Absolute};
}

QVariantList QmlBridge::measuredCurve() const
{
    return hasMeasuredCurve() ? feeds_->liveAbsolute.levels(liveAbsoluteSource(), Form::Map)
                              : QVariantList();
}

QVariantList QmlBridge::measuringCurveFlat() const
{
    return hasMeasuredCurve() ? feeds_->liveAbsolute.levels(liveAbsoluteSource(), Form::Flat)
                              : QVariantList();
}

bool QmlBridge::hasMeasuredCoherence() const
{
    return !core_->measuredFreq.isEmpty() && !core_->measuredCoherence.isEmpty();
}

QVariantList QmlBridge::measuringCoherence() const
{
    return hasMeasuredCoherence() ? feeds_->liveAbsolute.coherence(liveAbsoluteSource(), Form::Map)
                                  : QVariantList();
}

QVariantList QmlBridge::measuringCoherenceFlat() const
{
    return hasMeasuredCoherence() ? feeds_->liveAbsolute.coherence(liveAbsoluteSource(), Form::Flat)
                                  : QVariantList();
}

QVariantList QmlBridge::liveRelativeCurve() const
{
    return feeds_->liveRelative.levels({core_->measuredFreq,
                                        core_->measuredMagnitude,
                                        {},
                                        LevelScale::Relative,
                                        lineArray_ ? Flow::LineArray : Flow::PointSource},
                                       Form::Flat);
}

QVariantList QmlBridge::pointCurve(qsizetype index) const
{
    feeds_->points.resize(points_.size());
    return feeds_->points[index].levels(pointSource(points_[index]), Form::Flat);
}

QVariantList QmlBridge::latestMeasurementCurve() const
{
    if (measuring_ && hasMeasuredCurve())
        return liveRelativeCurve();
    if (points_.isEmpty())
        return {};
    return pointCurve(points_.size() - 1);
}

QVariantList QmlBridge::measurementHistoryCurves() const
{
    QVariantList curves;
    const qsizetype shown = measuring_ ? points_.size() : points_.size() - 1;
    for (qsizetype i = 0; i < shown; ++i)
        curves.append(QVariant(pointCurve(i)));
    return curves;
}

QVariantList QmlBridge::measurementPointCurves() const
{
    QVariantList curves;
    for (qsizetype i = 0; i < points_.size(); ++i)
        curves.append(QVariant(pointCurve(i)));
    if (measuring_ && hasMeasuredCurve())
        curves.append(QVariant(liveRelativeCurve()));
    return curves;
}

QVariantList QmlBridge::averageMeasurementCurve() const
{
    if (points_.size() < 3)
        return {};
    if (lineArray_)
        return lineArrayAverage_;
    const snt::eq::Measured &average = feeds_->averageOf(points_);
    return feeds_->pointAverage.levels({average.freq, average.magnitude, {}, LevelScale::Absolute},
                                       Form::Flat);
}

double QmlBridge::measureCurveCenter() const
{
    return ::measureCurveCenter(core_->measuredMagnitude);
}

void QmlBridge::resmoothLiveCurves()
{
    for (SubwooferCurve *curve : {&subXover_.main, &subXover_.sub, &subAlign_.main, &subAlign_.sub})
        curve->resmooth();
}
