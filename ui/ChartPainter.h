#pragma once

#include "ui/ChartCache.h"
#include "ui/ChartMapping.h"
#include "ui/CurvePoints.h"

#include <QPen>
#include <QPolygonF>

class QLinearGradient;
class QPainter;

namespace snt::ui {

class CurveChartItem;

// One paint of a CurveChartItem, back to front: fills, grid and axes, coherence traces, curves,
// labels. Reads the chart's properties and parsed lists and changes nothing but the chart's cache.
// Without a cache, or on a device the cache's pictures cannot be laid on pixel for pixel (turned,
// shifted or of another pixel ratio), everything is drawn with QPainter alone.
class ChartPainter
{
public:
    ChartPainter(const CurveChartItem &chart, QPainter *painter, ChartCache *cache);

    void paint();

private:
    // Alphas of a fill's gradient at its top, at 62 % of the way down and at the bottom axis.
    struct FillAlphas
    {
        int top;
        int middle;
        int bottom;
    };

    static void setHints(QPainter *painter);
    bool cacheFits() const;
    ChartLayerKey layerKey() const;
    void refreshCache();
    QImage drawnLayer(void (ChartPainter::*draw)()) const;
    void blit(const QImage &layer);
    void drawFills();
    void fillRuns(const PointList &curve, const QList<PointRun> &runs, const QColor &colour,
                  FillAlphas alphas);
    // Strokes the polylines (item pixels) with the pen; solid pens get them thinned to what the
    // device pixels can show.
    void strokeLines(const QList<QPolygonF> &lines, const QPen &pen);
    void fillAreas(const QList<QPolygonF> &areas, const QLinearGradient &gradient);
    QPolygonF toDevice(const QPolygonF &line) const;
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
    QPolygonF mapRun(const PointList &curve, PointRun run) const;

    const CurveChartItem &m_chart;
    QPainter *m_painter;
    ChartCache *m_cache; // null when the cache does not fit the device
    ChartMapping m_map;
    double m_pixelsPerUnit; // device pixels per item pixel, across
};

} // namespace snt::ui
