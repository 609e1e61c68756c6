#include "app/CurveFeedCache.h"

#include "app/ChartPoints.h"

namespace {

constexpr int displayBudget = 480;

} // namespace

bool DisplaySource::sameAs(const DisplaySource &other) const
{
    return freq.isSharedWith(other.freq) && magnitude.isSharedWith(other.magnitude)
           && coherence.isSharedWith(other.coherence) && scale == other.scale && flow == other.flow;
}

QVariantList DisplayCurveCache::levels(const DisplaySource &source, Form form)
{
    return list(source, form == Form::Map ? MapLevels : FlatLevels);
}

QVariantList DisplayCurveCache::coherence(const DisplaySource &source, Form form)
{
    return list(source, form == Form::Map ? MapCoherence : FlatCoherence);
}

QVariantList DisplayCurveCache::list(const DisplaySource &source, List which)
{
    if (!source_ || !source_->sameAs(source)) {
        source_ = source;
        display_ = displayCurve(source.freq, source.magnitude, source.coherence, source.scale,
                                source.flow);
        lists_ = {};
    }
    std::optional<QVariantList> &cached = lists_[which];
    if (!cached) {
        const QList<float> &values
                = which == MapLevels || which == FlatLevels ? display_.before : display_.coherence;
        cached = which == MapLevels || which == MapCoherence
                         ? plotPoints(display_.freq, values, displayBudget)
                         : flatPairs(display_.freq, values, displayBudget);
    }
    return *cached;
}

const snt::eq::Measured &CurveFeedCache::averageOf(const QList<snt::eq::Measured> &pointList)
{
    if (!averaged_ || !averagedPoints_.isSharedWith(pointList)) {
        averagedPoints_ = pointList;
        average_ = averagePoints(pointList, Flow::PointSource);
        averaged_ = true;
    }
    return average_;
}
