#include "app/MeasuringFeeds.h"

#include "app/AppCore.h"
#include "app/CurveFeedCache.h"
#include "app/MeasuringFlow.h"

namespace {

using Form = DisplayCurveCache::Form;

DisplaySource pointSource(const snt::eq::Measured &point)
{
    return {point.freq, point.magnitude, {}, LevelScale::Absolute, Flow::PointSource};
}

} // namespace

MeasuringFeeds::MeasuringFeeds(const AppCore &core, const MeasuringFlow &measuring)
    : core_(core)
    , measuring_(measuring)
    , feeds_(std::make_unique<CurveFeedCache>())
{ }

MeasuringFeeds::~MeasuringFeeds() = default;

bool MeasuringFeeds::hasMeasuredCurve() const
{
    return core_.measured().hasCurve();
}

bool MeasuringFeeds::hasMeasuredCoherence() const
{
    return !core_.measured().freq.isEmpty() && !core_.measured().coherence.isEmpty();
}

// The live curve as the absolute level feeds show it. The coherence of a display curve does not
// depend on how its levels are scaled, so the coherence feeds come from the same display curve.
DisplaySource MeasuringFeeds::liveAbsoluteSource() const
{
    const MeasuredCurve &measured = core_.measured();
    return {measured.freq, measured.magnitude, measured.coherence, LevelScale::Absolute};
}

QVariantList MeasuringFeeds::measuredCurve() const
{
    return hasMeasuredCurve() ? feeds_->liveAbsolute.levels(liveAbsoluteSource(), Form::Map)
                              : QVariantList();
}

QVariantList MeasuringFeeds::measuringCurveFlat() const
{
    return hasMeasuredCurve() ? feeds_->liveAbsolute.levels(liveAbsoluteSource(), Form::Flat)
                              : QVariantList();
}

QVariantList MeasuringFeeds::measuringCoherence() const
{
    return hasMeasuredCoherence() ? feeds_->liveAbsolute.coherence(liveAbsoluteSource(), Form::Map)
                                  : QVariantList();
}

QVariantList MeasuringFeeds::measuringCoherenceFlat() const
{
    return hasMeasuredCoherence() ? feeds_->liveAbsolute.coherence(liveAbsoluteSource(), Form::Flat)
                                  : QVariantList();
}

QVariantList MeasuringFeeds::liveRelativeCurve() const
{
    const MeasuredCurve &measured = core_.measured();
    return feeds_->liveRelative.levels(
            {measured.freq, measured.magnitude, {}, LevelScale::Relative, measuring_.flow()},
            Form::Flat);
}

QVariantList MeasuringFeeds::pointCurve(qsizetype index) const
{
    const QList<snt::eq::Measured> &points = measuring_.points();
    feeds_->points.resize(points.size());
    return feeds_->points[index].levels(pointSource(points[index]), Form::Flat);
}

QVariantList MeasuringFeeds::latestMeasurementCurve() const
{
    if (measuring_.measuring() && hasMeasuredCurve())
        return liveRelativeCurve();
    if (measuring_.points().isEmpty())
        return {};
    return pointCurve(measuring_.points().size() - 1);
}

QVariantList MeasuringFeeds::measurementHistoryCurves() const
{
    const qsizetype count = measuring_.points().size();
    const qsizetype shown = measuring_.measuring() ? count : count - 1;
    QVariantList curves;
    for (qsizetype i = 0; i < shown; ++i)
        curves.append(QVariant(pointCurve(i)));
    return curves;
}

QVariantList MeasuringFeeds::measurementPointCurves() const
{
    QVariantList curves;
    for (qsizetype i = 0; i < measuring_.points().size(); ++i)
        curves.append(QVariant(pointCurve(i)));
    if (measuring_.measuring() && hasMeasuredCurve())
        curves.append(QVariant(liveRelativeCurve()));
    return curves;
}

QVariantList MeasuringFeeds::averageMeasurementCurve() const
{
    const QList<snt::eq::Measured> &points = measuring_.points();
    if (points.size() < 3)
        return {};
    if (measuring_.lineArray())
        return measuring_.lineArrayAverage();
    const snt::eq::Measured &average = feeds_->averageOf(points);
    return feeds_->pointAverage.levels({average.freq, average.magnitude, {}, LevelScale::Absolute},
                                       Form::Flat);
}

double MeasuringFeeds::measureCurveCenter() const
{
    return ::measureCurveCenter(core_.measured().magnitude);
}
