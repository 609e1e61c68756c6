#include "ui/CurveChartItem.h"

#include "ui/ChartPainter.h"

#include <QMetaMethod>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>

namespace snt::ui {

namespace {

// Effective paddings of a compact or unlabelled chart.
constexpr double smallLeft = 4;
constexpr double smallRight = 7;
constexpr double smallTop = 8;
constexpr double smallBottom = 5;
// No texture side beyond this: no backend makes one, and the conversion to int stays defined.
constexpr double largestTextureSide = 32768;

} // namespace

CurveChartItem::CurveChartItem(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(false); // the painter gets its own hints in paint()
    setOpaquePainting(false);
    setRenderTarget(Image);
    setPerformanceHint(FastFBOResizing);
    // Every property change repaints, whatever its type.
    const QMetaObject &meta = staticMetaObject;
    const QMetaMethod repaintSlot = meta.method(meta.indexOfSlot("repaint()"));
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        connect(this, meta.property(i).notifySignal(), this, repaintSlot);
}

bool CurveChartItem::assignCurve(Curve &curve, const QVariantList &list)
{
    if (curve.given == list)
        return false;
    curve.given = list;
    curve.parsed = parsePoints(list);
    return true;
}

void CurveChartItem::setPoints(const QVariantList &list)
{
    if (assignCurve(m_points, list))
        emit pointsChanged();
}

void CurveChartItem::setPoints2(const QVariantList &list)
{
    if (assignCurve(m_points2, list))
        emit points2Changed();
}

void CurveChartItem::setPoints3(const QVariantList &list)
{
    if (assignCurve(m_points3, list))
        emit points3Changed();
}

void CurveChartItem::setTargetCurve(const QVariantList &list)
{
    if (assignCurve(m_target, list))
        emit targetCurveChanged();
}

void CurveChartItem::setCoherence(const QVariantList &list)
{
    if (assignCurve(m_coherence, list))
        emit coherenceChanged();
}

void CurveChartItem::setCoherence2(const QVariantList &list)
{
    if (assignCurve(m_coherence2, list))
        emit coherence2Changed();
}

void CurveChartItem::setHistoryCurves(const QVariantList &curves)
{
    if (m_historyGiven == curves)
        return;
    m_historyGiven = curves;
    m_history.clear();
    for (const QVariant &curve : curves) {
        PointList parsed = parsePoints(curve.toList());
        if (parsed.size() >= 2)
            m_history.append(std::move(parsed));
    }
    emit historyCurvesChanged();
}

// Qt's fuzzy comparison: equal when |a - b| * 10^12 <= min(|a|, |b|).
bool CurveChartItem::assignDouble(double &member, double value)
{
    if (qFuzzyCompare(member, value))
        return false;
    member = value;
    return true;
}

void CurveChartItem::setPhaseCenter(double degrees)
{
    if (!std::isfinite(degrees))
        return; // no angle to wrap: keep the last one
    double wrapped = std::remainder(degrees, 360.0);
    if (wrapped <= -180)
        wrapped += 360;
    // Compared one up, so that angles near zero compare sensibly.
    if (qFuzzyCompare(m_phaseCenter + 1, wrapped + 1))
        return;
    m_phaseCenter = wrapped;
    emit phaseCenterChanged();
}

void CurveChartItem::setDelayMs(double ms)
{
    if (!(ms >= 0) || std::isinf(ms))
        ms = 0;
    if (qFuzzyCompare(m_delayMs + 1, ms + 1))
        return;
    m_delayMs = ms;
    emit delayMsChanged();
}

// A binding such as Math.log(0) can hand over an infinite or undefined bound; the axis keeps the
// last finite one instead of drawing nothing or looping over an endless grid.
void CurveChartItem::setYMin(double value)
{
    if (std::isfinite(value) && assignDouble(m_yMin, value))
        emit yMinChanged();
}

void CurveChartItem::setYMax(double value)
{
    if (std::isfinite(value) && assignDouble(m_yMax, value))
        emit yMaxChanged();
}

void CurveChartItem::setCoherenceThreshold(double threshold)
{
    if (assignDouble(m_coherenceThreshold, threshold))
        emit coherenceThresholdChanged();
}

void CurveChartItem::setPadTop(double pixels)
{
    if (assignDouble(m_padTop, pixels))
        emit padTopChanged();
}

void CurveChartItem::setPadBottom(double pixels)
{
    if (assignDouble(m_padBottom, pixels))
        emit padBottomChanged();
}

void CurveChartItem::setPadLeft(double pixels)
{
    if (assignDouble(m_padLeft, pixels))
        emit padLeftChanged();
}

void CurveChartItem::setPadRight(double pixels)
{
    if (assignDouble(m_padRight, pixels))
        emit padRightChanged();
}

void CurveChartItem::setXLabelGap(double pixels)
{
    if (assignDouble(m_xLabelGap, pixels))
        emit xLabelGapChanged();
}

void CurveChartItem::setRenderScale(double scale)
{
    scale = std::isnan(scale) ? 1.0 : std::clamp(scale, 1.0, 2.0);
    if (!assignDouble(m_renderScale, scale))
        return;
    updateTextureSize();
    emit renderScaleChanged();
}

ChartMapping CurveChartItem::mapping() const
{
    ChartMapping map;
    map.width = width();
    map.height = height();
    const bool configured = m_showLabels && !m_compact;
    map.left = configured ? m_padLeft : smallLeft;
    map.right = configured ? m_padRight : smallRight;
    map.top = configured ? m_padTop : smallTop;
    map.bottom = configured ? m_padBottom : smallBottom;
    map.yMin = m_yMin;
    map.yMax = m_yMax;
    map.phaseMode = m_phaseMode;
    map.coherenceBottom = m_coherenceBottom;
    return map;
}

const PointList &CurveChartItem::coherenceFor(int index) const
{
    return index == 1 ? m_coherence2.parsed : m_coherence.parsed;
}

bool CurveChartItem::coherenceAllows(double f, int index) const
{
    if (index == 2)
        return true;
    const PointList &coherence = coherenceFor(index);
    if (m_coherenceThreshold <= 0 || coherence.isEmpty())
        return true;
    const double c = valueAt(coherence, f);
    return !std::isfinite(c) || c >= m_coherenceThreshold;
}

bool CurveChartItem::gateActive(int index) const
{
    return m_curveCoherenceGate && m_coherenceThreshold > 0 && index < 2
           && !coherenceFor(index).isEmpty();
}

QList<PointRun> CurveChartItem::gatedSegments(const PointList &curve, int index) const
{
    if (!gateActive(index))
        return {PointRun{0, curve.size()}};
    return runsAboveFloor(curve, index, true);
}

QList<PointRun> CurveChartItem::runsAboveFloor(const PointList &curve, int index, bool gated) const
{
    QList<PointRun> runs;
    const double floor = m_yMin + 1;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < curve.size(); ++i) {
        const QPointF &p = curve[i];
        if (p.y() > floor && (!gated || coherenceAllows(p.x(), index)))
            continue;
        if (i > begin)
            runs.append(PointRun{begin, i});
        begin = i + 1;
    }
    if (curve.size() > begin)
        runs.append(PointRun{begin, curve.size()});
    return runs;
}

void CurveChartItem::paint(QPainter *painter)
{
    ChartPainter(*this, painter, &m_cache).paint();
}

void CurveChartItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    updateTextureSize();
}

// The texture follows the window's pixel ratio too, so a chart that gets its window (or moves to a
// screen of another ratio) after it got its size is not left blurred.
void CurveChartItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickPaintedItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged)
        updateTextureSize();
}

void CurveChartItem::updateTextureSize()
{
    const double scale = (window() ? window()->effectiveDevicePixelRatio() : 1.0) * m_renderScale;
    const auto side = [scale](double length) {
        return int(std::clamp(std::ceil(length * scale), 0.0, largestTextureSide));
    };
    setTextureSize(QSize(side(width()), side(height())));
    update();
}

} // namespace snt::ui
