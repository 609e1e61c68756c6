#include "ui/ChartPainter.h"

#include "ui/CurveChartItem.h"
#include "ui/PolylineThinning.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace snt::ui {

namespace {

// Vertical grid lines and frequency labels; 20 Hz has none, the left axis stands there.
constexpr double gridFrequencies[]
        = {30,  40,  50,   60,   70,   80,   90,   100,  200,  300,  400,  500,   600,  700,
           800, 900, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000};
// Beyond this many 3 dB lines the value axis is nonsense and the grid would only burn time.
constexpr double mostDbGridLines = 400;

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

QPen roundPen(const QColor &colour, double width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A curve's pen: round, and dashed by the pattern (lengths in pen widths) unless it has none.
QPen curvePen(const QColor &colour, double width, const QList<qreal> &dashes)
{
    QPen pen = roundPen(colour, width);
    if (!dashes.isEmpty())
        pen.setDashPattern(dashes);
    return pen;
}

const QList<qreal> solidLine;

// Degrees wrapped into (-180, 180].
double wrapDegrees(double degrees)
{
    const double wrapped = std::remainder(degrees, 360.0);
    return wrapped <= -180 ? wrapped + 360 : wrapped;
}

// Rounded half away from zero, printed without a sign on zero.
QString roundedText(double value)
{
    return QString::number(std::round(value) + 0.0, 'f', 0);
}

QString frequencyText(double f)
{
    if (f >= 1000)
        return QString::number(f / 1000, 'g', 3) + QLatin1Char('k');
    return roundedText(f);
}

} // namespace

ChartPainter::ChartPainter(const CurveChartItem &chart, QPainter *painter, ChartCache *cache)
    : m_chart(chart)
    , m_painter(painter)
    , m_cache(cache)
    , m_map(chart.mapping())
    , m_pixelsPerUnit(std::abs(painter->deviceTransform().m11()))
{
    if (!cacheFits())
        m_cache = nullptr;
}

void ChartPainter::setHints(QPainter *painter)
{
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::TextAntialiasing, true);
}

void ChartPainter::paint()
{
    setHints(m_painter);
    m_painter->setClipRect(QRectF(0, 0, m_map.width, m_map.height), Qt::ReplaceClip);
    if (m_map.width < 4 || m_map.height < 4)
        return;
    refreshCache();
    drawFills();
    if (m_cache)
        blit(m_cache->grid);
    else
        drawGrid();
    if (m_chart.m_showCoherence && m_chart.m_coherence.parsed.size() >= 2) {
        drawCoherenceTrace(m_chart.m_coherence.parsed, m_chart.m_coherenceColor, 1.6);
        if (m_chart.m_coherence2.parsed.size() >= 2)
            drawCoherenceTrace(m_chart.m_coherence2.parsed, m_chart.m_line2Color, 1.3);
    }
    drawCurves();
    if (m_cache)
        blit(m_cache->labels);
    else
        drawLabels();
}

// ---- the cache ---------------------------------------------------------------------------------

// The cache works in device pixels: it fits a device reached by scaling alone.
bool ChartPainter::cacheFits() const
{
    const QTransform device = m_painter->deviceTransform();
    return m_cache && device.type() <= QTransform::TxScale && device.dx() == 0 && device.dy() == 0
           && device.m11() > 0 && device.m22() > 0 && m_painter->device()->devicePixelRatio() == 1;
}

ChartLayerKey ChartPainter::layerKey() const
{
    const CurveChartItem &c = m_chart;
    return {m_map,           m_painter->deviceTransform(),
            c.m_padLeft,     c.m_padBottom,
            c.m_phaseCenter, c.m_xLabelGap,
            c.m_labelSize,   c.m_showGrid,
            c.m_showLabels,  c.m_compact,
            c.m_showXLabels, c.m_gridColor,
            c.m_axisColor,   c.m_labelColor};
}

void ChartPainter::refreshCache()
{
    if (!m_cache)
        return;
    const ChartLayerKey key = layerKey();
    if (m_cache->grid.isNull() || !(m_cache->key == key)) {
        m_cache->key = key;
        m_cache->grid = drawnLayer(&ChartPainter::drawGrid);
        m_cache->labels = drawnLayer(&ChartPainter::drawLabels);
        m_cache->raster.resize(m_cache->grid.size());
    }
}

QImage ChartPainter::drawnLayer(void (ChartPainter::*draw)()) const
{
    const QTransform device = m_painter->deviceTransform();
    const QSize pixels(int(std::ceil(m_map.width * device.m11() - 1e-6)),
                       int(std::ceil(m_map.height * device.m22() - 1e-6)));
    QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter painter(&layer);
    painter.setTransform(device);
    setHints(&painter);
    ChartPainter on(m_chart, &painter, nullptr);
    (on.*draw)();
    return layer;
}

void ChartPainter::blit(const QImage &layer)
{
    m_painter->save();
    m_painter->resetTransform();
    m_painter->drawImage(0, 0, layer);
    m_painter->restore();
}

// ---- strokes and areas -------------------------------------------------------------------------

QPolygonF ChartPainter::mapRun(const PointList &curve, PointRun run) const
{
    QPolygonF line;
    line.reserve(run.size() + 2);
    for (qsizetype i = run.begin; i < run.end; ++i)
        line.append(QPointF(m_map.xForFrequency(curve[i].x()), m_map.yForPhase(curve[i].y())));
    return line;
}

QPolygonF ChartPainter::toDevice(const QPolygonF &line) const
{
    return m_painter->deviceTransform().map(line);
}

void ChartPainter::strokeLines(const QList<QPolygonF> &lines, const QPen &pen)
{
    const bool solid = pen.style() == Qt::SolidLine;
    if (!m_cache) {
        m_painter->setPen(pen);
        for (const QPolygonF &line : lines)
            m_painter->drawPolyline(solid ? thinToPixelColumns(line, m_pixelsPerUnit) : line);
        return;
    }
    const QTransform device = m_painter->deviceTransform();
    const double width = pen.widthF() * (device.m11() + device.m22()) / 2;
    const QList<qreal> dashes = solid ? QList<qreal>() : pen.dashPattern();
    for (const QPolygonF &line : lines)
        m_cache->raster.addStroke(solid ? thinToPixelColumns(toDevice(line), 1) : toDevice(line),
                                  width, dashes);
    m_cache->raster.paint(m_painter, pen.color());
}

void ChartPainter::fillAreas(const QList<QPolygonF> &areas, const QLinearGradient &gradient)
{
    if (!m_cache) {
        m_painter->setPen(Qt::NoPen);
        m_painter->setBrush(gradient);
        for (const QPolygonF &area : areas)
            m_painter->drawPolygon(area);
        m_painter->setBrush(Qt::NoBrush);
        return;
    }
    for (const QPolygonF &area : areas)
        m_cache->raster.addArea(toDevice(area));
    m_cache->raster.paint(m_painter, gradient);
}

// ---- fills -------------------------------------------------------------------------------------

void ChartPainter::drawFills()
{
    const CurveChartItem &c = m_chart;
    if (!c.m_showFill)
        return;
    const auto fill = [&](const PointList &curve, const QColor &colour, FillAlphas alphas,
                          int index) {
        fillRuns(curve, c.runsAboveFloor(curve, index, c.gateActive(index)), colour, alphas);
    };
    if (c.m_fillThird) {
        fill(c.m_points3.parsed, c.m_line3Color, {80, 24, 5}, 2);
    } else if (c.m_fillBoth) {
        fill(c.m_points.parsed, c.m_lineColor, {80, 24, 5}, 0);
        fill(c.m_points2.parsed, c.m_line2Color, {72, 20, 4}, 1);
    } else {
        // Once points2 holds anything it is the one filled, even when too short to draw.
        const bool second = !c.m_fillPrimary && !c.m_points2.parsed.isEmpty();
        const PointList &curve = second ? c.m_points2.parsed : c.m_points.parsed;
        if (curve.size() < 2)
            return;
        const FillAlphas alphas
                = c.m_referenceFills ? FillAlphas{120, 45, 12} : FillAlphas{100, 32, 8};
        fillRuns(curve, c.gatedSegments(curve, second ? 1 : 0), c.m_lineColor, alphas);
    }
}

void ChartPainter::fillRuns(const PointList &curve, const QList<PointRun> &runs,
                            const QColor &colour, FillAlphas alphas)
{
    QLinearGradient gradient(0, m_map.top, 0, m_map.bottomEdge());
    gradient.setColorAt(0, withAlpha(colour, alphas.top));
    gradient.setColorAt(0.62, withAlpha(colour, alphas.middle));
    gradient.setColorAt(1, withAlpha(colour, alphas.bottom));
    const double floor = m_map.yForPhase(m_chart.m_yMin);
    QList<QPolygonF> areas;
    for (const PointRun &run : runs) {
        if (run.size() < 2)
            continue;
        QPolygonF area = thinToPixelColumns(mapRun(curve, run), m_pixelsPerUnit);
        const double firstX = area.first().x();
        area.append(QPointF(area.last().x(), floor));
        area.append(QPointF(firstX, floor));
        areas.append(area);
    }
    fillAreas(areas, gradient);
}

// ---- grid and axes -----------------------------------------------------------------------------

void ChartPainter::drawGrid()
{
    const CurveChartItem &c = m_chart;
    const double left = m_map.left;
    const double right = m_map.rightEdge();
    const double bottom = m_map.bottomEdge();
    if (c.m_showGrid) {
        // Lines of one pen go in one call: each call costs a pass of the rasteriser.
        QList<QLineF> minor, major, zero, verticals;
        const auto row = [&](double y, QList<QLineF> &lines) {
            lines.append(QLineF(left, y, right, y));
        };
        if (c.m_phaseMode) {
            for (int degrees = -180; degrees <= 180; degrees += 30)
                row(m_map.yForDb(degrees), degrees % 60 == 0 ? major : minor);
        } else {
            const double lowest = std::floor(c.m_yMin / 3);
            const double highest = std::ceil(c.m_yMax / 3);
            for (double k = lowest; k <= highest && highest - lowest < mostDbGridLines; ++k) {
                const double value = k * 3;
                if (value < c.m_yMin - 0.01 || value > c.m_yMax + 0.01)
                    continue;
                row(m_map.yForPhase(value), k == 0 ? zero : std::fmod(k, 2) == 0 ? major : minor);
            }
        }
        for (double f : gridFrequencies) {
            const double x = m_map.xForFrequency(f);
            verticals.append(QLineF(x, m_map.top, x, bottom));
        }
        const auto draw = [this](const QList<QLineF> &lines, const QPen &pen) {
            m_painter->setPen(pen);
            m_painter->drawLines(lines);
        };
        draw(minor, QPen(withAlpha(c.m_gridColor, qRound(c.m_gridColor.alpha() * 0.55)), 1.1));
        draw(major, QPen(c.m_gridColor, 1.4));
        draw(zero, QPen(c.m_axisColor, 1));
        draw(verticals, QPen(c.m_gridColor, 1.1));
    }
    m_painter->setPen(QPen(c.m_axisColor, 1.4));
    m_painter->drawLine(QLineF(left, m_map.top, left, bottom));
    m_painter->drawLine(QLineF(left, bottom, right, bottom));
}

void ChartPainter::drawCoherenceTrace(const PointList &coherence, const QColor &colour,
                                      double width)
{
    QPolygonF line;
    line.reserve(coherence.size());
    for (const QPointF &p : coherence)
        line.append(QPointF(m_map.xForFrequency(p.x()), m_map.yForCoherence(p.y())));
    strokeLines({line}, roundPen(withAlpha(colour, 105), width));
}

// ---- curves ------------------------------------------------------------------------------------

void ChartPainter::drawCurves()
{
    const CurveChartItem &c = m_chart;
    const double delay = rotationDelayMs();
    if (!c.m_phaseMode && c.m_target.parsed.size() >= 2) {
        strokeLines({mapRun(c.m_target.parsed, {0, c.m_target.parsed.size()})},
                    curvePen(c.m_targetColor, 1.8, {6, 4}));
    }
    const auto draw = [&](const PointList &curve, const QPen &pen, int index) {
        if (c.m_phaseMode)
            drawPhaseCurve(curve, pen, index, delay);
        else
            drawCurve(curve, pen, index);
    };
    const QPen history = curvePen(withAlpha(c.m_historyColor, c.m_compact ? 140 : 165),
                                  c.m_compact ? 1.4 : 1.6, {4, 4});
    for (const PointList &curve : c.m_history)
        draw(curve, history, 0);

    const double primaryWidth = c.m_compact ? 1.5 : 2.2;
    const auto width = [&](double normal) {
        return c.m_uniformWidth ? primaryWidth : c.m_compact ? 1.25 : normal;
    };
    if (c.m_points.parsed.size() >= 2)
        draw(c.m_points.parsed,
             curvePen(c.m_lineColor, primaryWidth, c.m_firstSolid ? solidLine : QList<qreal>{4, 4}),
             0);
    if (c.m_points2.parsed.size() >= 2)
        draw(c.m_points2.parsed,
             curvePen(c.m_line2Color, width(1.6), c.m_secondSolid ? solidLine : QList<qreal>{3, 3}),
             1);
    if (c.m_points3.parsed.size() >= 2)
        draw(c.m_points3.parsed,
             curvePen(c.m_line3Color, width(1.5), c.m_thirdSolid ? solidLine : QList<qreal>{9, 4}),
             2);
}

double ChartPainter::rotationDelayMs() const
{
    const CurveChartItem &c = m_chart;
    if (c.m_phaseMode && !c.m_phaseCompensated && std::abs(c.m_delayMs) < 1e-6)
        return estimatedDelayMs();
    return c.m_delayMs;
}

// The delay a phase curve shows, from the median slope of its neighbouring points above 100 Hz
// (steps of 120 degrees or more are taken for wraps or noise and left out).
double ChartPainter::estimatedDelayMs() const
{
    const CurveChartItem &c = m_chart;
    const bool second = c.m_points2.parsed.size() >= 4;
    const PointList &phase = second ? c.m_points2.parsed : c.m_points.parsed;
    const int index = second ? 1 : 0;
    const bool gated = c.m_curveCoherenceGate && c.m_coherenceThreshold > 0
                       && !c.m_coherence.parsed.isEmpty();
    QList<double> slopes;
    for (qsizetype i = 1; i < phase.size(); ++i) {
        const QPointF &a = phase[i - 1];
        const QPointF &b = phase[i];
        if (a.x() < 100)
            continue;
        if (gated && !(c.coherenceAllows(a.x(), index) && c.coherenceAllows(b.x(), index)))
            continue;
        const double step = std::remainder(b.y() - a.y(), 360.0);
        const double df = b.x() - a.x();
        if (df > 0 && std::abs(step) < 120)
            slopes.append(step / df);
    }
    if (slopes.size() < 8)
        return 0;
    const auto median = slopes.begin() + slopes.size() / 2;
    std::nth_element(slopes.begin(), median, slopes.end());
    return -*median * 1000 / 360;
}

void ChartPainter::drawCurve(const PointList &curve, const QPen &pen, int index)
{
    QList<QPolygonF> lines;
    for (const PointRun &run : m_chart.gatedSegments(curve, index)) {
        if (run.size() >= 2)
            lines.append(mapRun(curve, run));
    }
    strokeLines(lines, pen);
}

// Phases are drawn from pair to pair so that a step across the +-180 seam leaves the plot and is
// cut by the clip instead of crossing its whole height. Pairs that continue one another are
// stroked as one polyline.
void ChartPainter::drawPhaseCurve(const PointList &curve, QPen pen, int index, double delayMs)
{
    const CurveChartItem &c = m_chart;
    const qsizetype n = curve.size();
    QList<double> phase(n);
    QList<bool> allowed(n, true);
    const bool gated = c.gateActive(index);
    for (qsizetype i = 0; i < n; ++i) {
        double degrees = curve[i].y();
        if (!c.m_phaseCompensated)
            degrees += delayMs * 0.36 * (curve[i].x() - 1000); // the delay, referred to 1 kHz
        phase[i] = wrapDegrees(degrees - c.m_phaseCenter);
        if (gated)
            allowed[i] = c.coherenceAllows(curve[i].x(), index);
    }
    m_painter->save();
    m_painter->setClipRect(m_map.plotRect(), Qt::ReplaceClip);
    pen.setCapStyle(Qt::RoundCap);
    QList<QPolygonF> chains;
    QPolygonF chain;
    const auto flush = [&] {
        if (chain.size() >= 2)
            chains.append(chain);
        chain.clear();
    };
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (!allowed[i] || !allowed[i + 1]) {
            flush();
            continue;
        }
        const double p0 = phase[i];
        double p1 = phase[i + 1];
        const bool acrossSeam = std::abs(p1 - p0) > 180;
        if (p1 - p0 > 180)
            p1 -= 360;
        else if (p0 - p1 > 180)
            p1 += 360;
        if (chain.isEmpty())
            chain.append(QPointF(m_map.xForFrequency(curve[i].x()), m_map.yForDb(p0)));
        chain.append(QPointF(m_map.xForFrequency(curve[i + 1].x()), m_map.yForDb(p1)));
        if (acrossSeam)
            flush();
    }
    flush();
    strokeLines(chains, pen);
    m_painter->restore();
}

// ---- labels ------------------------------------------------------------------------------------

void ChartPainter::drawLabels()
{
    if (!m_chart.m_showLabels || m_chart.m_compact)
        return;
    QFont font(QStringLiteral("Microsoft YaHei UI"));
    font.setPixelSize(std::max(1, m_chart.m_labelSize));
    m_painter->setFont(font);
    m_painter->setPen(m_chart.m_labelColor);
    drawValueLabels();
    if (m_chart.m_showXLabels)
        drawFrequencyLabels();
}

void ChartPainter::drawValueLabels()
{
    const CurveChartItem &c = m_chart;
    for (int i = 0; i <= 6; ++i) {
        double y;
        double shown;
        if (c.m_phaseMode) {
            const double axis = 180 - 60 * i;
            y = m_map.yForDb(axis);
            shown = wrapDegrees(axis + c.m_phaseCenter);
            if (i == 6 && std::abs(shown - 180) <= 0.5)
                shown = -180;
        } else {
            shown = c.m_yMax - (c.m_yMax - c.m_yMin) * i / 6;
            y = m_map.yForPhase(shown);
        }
        QString text = roundedText(shown);
        if (i == 0)
            text = (c.m_phaseMode ? QStringLiteral("%1°") : QStringLiteral("%1 dB")).arg(text);
        m_painter->drawText(QRectF(c.m_padLeft - 10 - 98, y - 11, 98, 22),
                            Qt::AlignRight | Qt::AlignVCenter, text);
    }
}

// Labels that would come closer than 8 pixels to the last one drawn are left out, so a narrow
// chart thins them from left to right.
void ChartPainter::drawFrequencyLabels()
{
    const CurveChartItem &c = m_chart;
    const QFontMetricsF metrics(m_painter->font());
    const double top = m_map.height - c.m_padBottom + c.m_xLabelGap;
    double lastRight = -std::numeric_limits<double>::infinity();
    for (double f : gridFrequencies) {
        const QString text = frequencyText(f);
        const double width = metrics.horizontalAdvance(text);
        const double x = m_map.xForFrequency(f);
        const double left = x - width / 2;
        if (left < lastRight + 8)
            continue;
        m_painter->drawText(QRectF(left - 3, top, width + 5, 19), Qt::AlignHCenter | Qt::AlignTop,
                            text);
        lastRight = x + width / 2;
    }
}

} // namespace snt::ui
