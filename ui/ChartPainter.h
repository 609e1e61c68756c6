#pragma once

#include "ui/ChartMapping.h"
#include "ui/CurvePoints.h"

#include <QPen>
#include <QPolygonF>

class QPainter;

namespace snt::ui {

class CurveChartItem;

// One paint of a CurveChartItem, back to front: fills, grid and axes, coherence traces, curves,
// labels. Reads the chart's properties and parsed lists; changes nothing.
class ChartPainter
{
public:
    ChartPainter(const CurveChartItem &chart, QPainter *painter);

    void paint();

private:
    // Alphas of a fill's gradient at its top, at 62 % of the way down and at the bottom axis.
    struct FillAlphas
    {
        int top;
        int middle;
        int bottom;
    };

    void drawFills();
    void fillRuns(const PointList &curve, const QList<PointRun> &runs, const QColor &colour,
                  FillAlphas alphas);
    void drawGrid();
    void drawCoherenceTrace(const PointList &coherence, const QColor &colour, double width);
    void drawCurves();
    double rotationDelayMs() const;
    double estimatedDelayMs() const;
    void drawCurve(const PointList &curve, const QPen &pen, int index);
    void drawPhaseCurve(const PointList &curve, QPen pen, int index, double delayMs);
    void drawLabels();
    void drawValueLabels();
    void drawFrequencyLabels();
    // Strokes a polyline; solid pens get it thinned to what the device pixels can show.
    void stroke(const QPolygonF &line, const QPen &pen);
    QPolygonF mapRun(const PointList &curve, PointRun run) const;

    const CurveChartItem &m_chart;
    QPainter *m_painter;
    ChartMapping m_map;
    double m_pixelsPerUnit; // device pixels per item pixel, across
};

} // namespace snt::ui
