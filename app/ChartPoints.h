#pragma once

#include <QList>
#include <QPointF>
#include <QVariantList>

// Curves cross into the screens as point lists the chart item reads: a list of maps
// {"f": Hz, "d": value} or a flat list f0, d0, f1, d1, … A point that is not finite or lies
// above 20000.01 Hz is never sent, and a curve is thinned to a point budget first, so a chart
// redraw stays cheap whatever the resolution of the measurement.

// Indices into the first n points that keep at most about `budget` of them: every point of a
// short curve; for a long curve with ascending frequencies, the points nearest to `budget`
// log-spaced frequencies from the first point at or above 20 Hz to the last at or below 20 kHz;
// for a long curve that is not ascending, every step-th point and the last one.
QList<int> makeChartPoints(const QList<float> &freq, qsizetype n, int budget);

// The thinned curve in map form {"f", "d"}, over the shorter of the two lists.
QVariantList plotPoints(const QList<float> &freq, const QList<float> &values, int budget);

// The same as points (x the frequency, y the value), for readers that are not screens: no
// variant per point.
QList<QPointF> chartPoints(const QList<float> &freq, const QList<float> &values, int budget);

// The same in flat form.
QVariantList flatPairs(const QList<float> &freq, const QList<float> &values, int budget);
