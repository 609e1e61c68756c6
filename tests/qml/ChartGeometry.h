#pragma once

#include <QQuickItem>

#include <cmath>

// Where a curve chart of the screens draws a point, in window pixels, read from the chart's own
// paddings and value range: 20 Hz to 20 kHz on a log scale across the plot, yMax at its top.
namespace snt::test {

// The window column in which the chart draws frequency f.
inline int plotColumn(QQuickItem *chart, double f)
{
    const double left = chart->property("padLeft").toDouble();
    const double plotWidth = chart->width() - left - chart->property("padRight").toDouble();
    return int(chart->mapToScene(QPointF(0, 0)).x() + left
               + plotWidth * std::log10(f / 20.0) / 3.0);
}

// The window row at which the chart draws a level of `db`.
inline double levelRow(QQuickItem *chart, double db)
{
    const double top = chart->mapToScene(QPointF(0, 0)).y() + chart->property("padTop").toDouble();
    const double plotHeight = chart->height() - chart->property("padTop").toDouble()
                              - chart->property("padBottom").toDouble();
    const double yMin = chart->property("yMin").toDouble();
    const double yMax = chart->property("yMax").toDouble();
    return top + (yMax - db) / (yMax - yMin) * plotHeight;
}

} // namespace snt::test
