#pragma once

#include "app/CurveFeeds.h"

#include <QList>
#include <QVariantList>

#include <array>
#include <optional>

// The lists one display curve is made from. Two sources are the same when they hold the very
// same list data: the cache keeps shallow copies, so any change to a list made since (which
// detaches it from the copy) or a new list in its place tells them apart without comparing
// values.
struct DisplaySource
{
    QList<float> freq;
    QList<float> magnitude;
    QList<float> coherence;
    LevelScale scale = LevelScale::Absolute;
    Flow flow = Flow::PointSource;

    bool sameAs(const DisplaySource &other) const;
};

// One display curve and its point lists, made again only when its source changed.
class DisplayCurveCache
{
public:
    enum class Form { Map, Flat };

    // The display curve's levels, or its coherence, as a point list of at most 480 points.
    QVariantList levels(const DisplaySource &source, Form form);
    QVariantList coherence(const DisplaySource &source, Form form);

private:
    enum List { MapLevels, FlatLevels, MapCoherence, FlatCoherence };

    QVariantList list(const DisplaySource &source, List which);

    std::optional<DisplaySource> source_;
    snt::eq::DisplayCurve display_;
    std::array<std::optional<QVariantList>, 4> lists_;
};

// Every display curve behind the bridge's chart feeds. The live curve changes with each tick;
// the captured points and their average only when a point is taken, so reading the feeds 30
// times a second makes each of them once.
struct CurveFeedCache
{
    DisplayCurveCache liveAbsolute; // with coherence
    DisplayCurveCache liveRelative; // without coherence
    QList<DisplayCurveCache> points; // one per captured point, absolute, without coherence
    DisplayCurveCache pointAverage; // a single loudspeaker's points averaged, absolute

    // The averaged curve of these points, made again only when the point list changed.
    const snt::eq::Measured &averageOf(const QList<snt::eq::Measured> &pointList);

private:
    QList<snt::eq::Measured> averagedPoints_;
    snt::eq::Measured average_;
    bool averaged_ = false;
};
