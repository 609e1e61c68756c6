#pragma once

#include "ui/ChartCache.h"
#include "ui/ChartMapping.h"
#include "ui/CurvePoints.h"

#include <QColor>
#include <QQuickPaintedItem>
#include <QVariantList>

namespace snt::ui {

// The one chart of the user interface: frequency-response, phase, history and target curves and
// coherence traces over a logarithmic 20 Hz..20 kHz axis, painted into an image texture. Screens
// bind curve point lists (any of the forms parsePoints reads) and colours; the item parses a list
// once when it changes and repaints on every property change.
class CurveChartItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QVariantList points READ points WRITE setPoints NOTIFY pointsChanged)
    Q_PROPERTY(QVariantList points2 READ points2 WRITE setPoints2 NOTIFY points2Changed)
    Q_PROPERTY(QVariantList points3 READ points3 WRITE setPoints3 NOTIFY points3Changed)
    Q_PROPERTY(QVariantList historyCurves READ historyCurves WRITE setHistoryCurves NOTIFY
                       historyCurvesChanged)
    Q_PROPERTY(QVariantList targetCurve READ targetCurve WRITE setTargetCurve NOTIFY
                       targetCurveChanged)
    Q_PROPERTY(QColor targetColor MEMBER m_targetColor NOTIFY targetColorChanged)
    Q_PROPERTY(QVariantList coherence READ coherence WRITE setCoherence NOTIFY coherenceChanged)
    Q_PROPERTY(QVariantList coherence2 READ coherence2 WRITE setCoherence2 NOTIFY coherence2Changed)
    Q_PROPERTY(bool showCoherence MEMBER m_showCoherence NOTIFY showCoherenceChanged)
    Q_PROPERTY(bool coherenceBottom MEMBER m_coherenceBottom NOTIFY coherenceBottomChanged)
    Q_PROPERTY(bool phaseMode MEMBER m_phaseMode NOTIFY phaseModeChanged)
    Q_PROPERTY(double phaseCenter READ phaseCenter WRITE setPhaseCenter NOTIFY phaseCenterChanged)
    Q_PROPERTY(double delayMs READ delayMs WRITE setDelayMs NOTIFY delayMsChanged)
    Q_PROPERTY(bool phaseCompensated MEMBER m_phaseCompensated NOTIFY phaseCompensatedChanged)
    Q_PROPERTY(bool showXLabels MEMBER m_showXLabels NOTIFY showXLabelsChanged)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin NOTIFY yMinChanged)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax NOTIFY yMaxChanged)
    Q_PROPERTY(double coherenceThreshold READ coherenceThreshold WRITE setCoherenceThreshold NOTIFY
                       coherenceThresholdChanged)
    Q_PROPERTY(bool curveCoherenceGate MEMBER m_curveCoherenceGate NOTIFY curveCoherenceGateChanged)
    Q_PROPERTY(bool referenceFills MEMBER m_referenceFills NOTIFY referenceFillsChanged)
    Q_PROPERTY(bool compact MEMBER m_compact NOTIFY compactChanged)
    Q_PROPERTY(bool showGrid MEMBER m_showGrid NOTIFY showGridChanged)
    Q_PROPERTY(bool showLabels MEMBER m_showLabels NOTIFY showLabelsChanged)
    Q_PROPERTY(bool showFill MEMBER m_showFill NOTIFY showFillChanged)
    Q_PROPERTY(bool fillPrimary MEMBER m_fillPrimary NOTIFY fillPrimaryChanged)
    Q_PROPERTY(bool fillBoth MEMBER m_fillBoth NOTIFY fillBothChanged)
    Q_PROPERTY(bool fillThird MEMBER m_fillThird NOTIFY fillThirdChanged)
    Q_PROPERTY(bool secondSolid MEMBER m_secondSolid NOTIFY secondSolidChanged)
    Q_PROPERTY(bool firstSolid MEMBER m_firstSolid NOTIFY firstSolidChanged)
    Q_PROPERTY(bool thirdSolid MEMBER m_thirdSolid NOTIFY thirdSolidChanged)
    Q_PROPERTY(bool uniformWidth MEMBER m_uniformWidth NOTIFY uniformWidthChanged)
    Q_PROPERTY(double padTop READ padTop WRITE setPadTop NOTIFY padTopChanged)
    Q_PROPERTY(double padBottom READ padBottom WRITE setPadBottom NOTIFY padBottomChanged)
    Q_PROPERTY(double padLeft READ padLeft WRITE setPadLeft NOTIFY padLeftChanged)
    Q_PROPERTY(double padRight READ padRight WRITE setPadRight NOTIFY padRightChanged)
    Q_PROPERTY(int labelSize MEMBER m_labelSize NOTIFY labelSizeChanged)
    Q_PROPERTY(double xLabelGap READ xLabelGap WRITE setXLabelGap NOTIFY xLabelGapChanged)
    Q_PROPERTY(QColor lineColor MEMBER m_lineColor NOTIFY lineColorChanged)
    Q_PROPERTY(QColor line2Color MEMBER m_line2Color NOTIFY line2ColorChanged)
    Q_PROPERTY(QColor line3Color MEMBER m_line3Color NOTIFY line3ColorChanged)
    Q_PROPERTY(QColor historyColor MEMBER m_historyColor NOTIFY historyColorChanged)
    Q_PROPERTY(QColor gridColor MEMBER m_gridColor NOTIFY gridColorChanged)
    Q_PROPERTY(QColor axisColor MEMBER m_axisColor NOTIFY axisColorChanged)
    Q_PROPERTY(QColor labelColor MEMBER m_labelColor NOTIFY labelColorChanged)
    Q_PROPERTY(QColor coherenceColor MEMBER m_coherenceColor NOTIFY coherenceColorChanged)
    Q_PROPERTY(double renderScale READ renderScale WRITE setRenderScale NOTIFY renderScaleChanged)

public:
    explicit CurveChartItem(QQuickItem *parent = nullptr);

    QVariantList points() const { return m_points.given; }
    QVariantList points2() const { return m_points2.given; }
    QVariantList points3() const { return m_points3.given; }
    QVariantList historyCurves() const { return m_historyGiven; }
    QVariantList targetCurve() const { return m_target.given; }
    QVariantList coherence() const { return m_coherence.given; }
    QVariantList coherence2() const { return m_coherence2.given; }
    void setPoints(const QVariantList &list);
    void setPoints2(const QVariantList &list);
    void setPoints3(const QVariantList &list);
    void setHistoryCurves(const QVariantList &curves);
    void setTargetCurve(const QVariantList &list);
    void setCoherence(const QVariantList &list);
    void setCoherence2(const QVariantList &list);

    double phaseCenter() const { return m_phaseCenter; }
    double delayMs() const { return m_delayMs; }
    double yMin() const { return m_yMin; }
    double yMax() const { return m_yMax; }
    double coherenceThreshold() const { return m_coherenceThreshold; }
    double padTop() const { return m_padTop; }
    double padBottom() const { return m_padBottom; }
    double padLeft() const { return m_padLeft; }
    double padRight() const { return m_padRight; }
    double xLabelGap() const { return m_xLabelGap; }
    double renderScale() const { return m_renderScale; }
    void setPhaseCenter(double degrees);
    void setDelayMs(double ms);
    void setYMin(double value);
    void setYMax(double value);
    void setCoherenceThreshold(double threshold);
    void setPadTop(double pixels);
    void setPadBottom(double pixels);
    void setPadLeft(double pixels);
    void setPadRight(double pixels);
    void setXLabelGap(double pixels);
    void setRenderScale(double scale);

    // The history curves that have at least two valid points, parsed.
    const QList<PointList> &parsedHistory() const { return m_history; }
    // The plot rectangle and the mappings for the current size, paddings and value axis.
    ChartMapping mapping() const;
    // Whether the curve of this index (0 follows `coherence`, 1 `coherence2`, 2 never gated) may be
    // drawn at frequency f: the coherence there, interpolated, reaches the threshold.
    bool coherenceAllows(double f, int index) const;
    // Whether low coherence interrupts the curve of this index.
    bool gateActive(int index) const;
    // The pieces a curve is drawn in: where the gate is active, runs of points that pass it and lie
    // above yMin + 1; otherwise the whole curve.
    QList<PointRun> gatedSegments(const PointList &curve, int index) const;
    // Runs broken at every point at or below yMin + 1, and where `gated`, at low coherence too.
    QList<PointRun> runsAboveFloor(const PointList &curve, int index, bool gated) const;

    void paint(QPainter *painter) override;

signals:
    void pointsChanged();
    void points2Changed();
    void points3Changed();
    void historyCurvesChanged();
    void targetCurveChanged();
    void coherenceChanged();
    void coherence2Changed();
    void showCoherenceChanged();
    void coherenceBottomChanged();
    void phaseModeChanged();
    void phaseCenterChanged();
    void delayMsChanged();
    void phaseCompensatedChanged();
    void showXLabelsChanged();
    void yMinChanged();
    void yMaxChanged();
    void coherenceThresholdChanged();
    void curveCoherenceGateChanged();
    void referenceFillsChanged();
    void compactChanged();
    void showGridChanged();
    void showLabelsChanged();
    void showFillChanged();
    void fillPrimaryChanged();
    void fillBothChanged();
    void fillThirdChanged();
    void secondSolidChanged();
    void firstSolidChanged();
    void thirdSolidChanged();
    void uniformWidthChanged();
    void padTopChanged();
    void padBottomChanged();
    void padLeftChanged();
    void padRightChanged();
    void labelSizeChanged();
    void xLabelGapChanged();
    void lineColorChanged();
    void line2ColorChanged();
    void line3ColorChanged();
    void historyColorChanged();
    void gridColorChanged();
    void axisColorChanged();
    void labelColorChanged();
    void coherenceColorChanged();
    void targetColorChanged();
    void renderScaleChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private slots:
    void repaint() { update(); }

private:
    friend class ChartPainter;

    // A list property as QML gave it, beside its parsed points.
    struct Curve
    {
        QVariantList given;
        PointList parsed;
    };

    bool assignCurve(Curve &curve, const QVariantList &list);
    bool assignDouble(double &member, double value);
    void updateTextureSize();
    const PointList &coherenceFor(int index) const;

    Curve m_points;
    Curve m_points2;
    Curve m_points3;
    QVariantList m_historyGiven;
    QList<PointList> m_history;
    Curve m_target;
    QColor m_targetColor = QColor(74, 142, 255);
    Curve m_coherence;
    Curve m_coherence2;
    bool m_showCoherence = false;
    bool m_coherenceBottom = false;
    bool m_phaseMode = false;
    double m_phaseCenter = 0;
    double m_delayMs = 0;
    bool m_phaseCompensated = false;
    bool m_showXLabels = true;
    double m_yMin = -18;
    double m_yMax = 18;
    double m_coherenceThreshold = 0.7;
    bool m_curveCoherenceGate = true;
    bool m_referenceFills = false;
    bool m_compact = false;
    bool m_showGrid = true;
    bool m_showLabels = true;
    bool m_showFill = true;
    bool m_fillPrimary = false;
    bool m_fillBoth = false;
    bool m_fillThird = false;
    bool m_secondSolid = false;
    bool m_firstSolid = true;
    bool m_thirdSolid = false;
    bool m_uniformWidth = false;
    double m_padTop = 22;
    double m_padBottom = 37;
    double m_padLeft = 60;
    double m_padRight = 22;
    int m_labelSize = 11;
    double m_xLabelGap = 10;
    QColor m_lineColor = QColor(255, 255, 255);
    QColor m_line2Color = QColor(255, 255, 255, 179);
    QColor m_line3Color = QColor(255, 255, 255, 179);
    QColor m_historyColor = QColor(255, 255, 255);
    QColor m_gridColor = QColor(255, 255, 255, 31);
    QColor m_axisColor = QColor(255, 255, 255, 64);
    QColor m_labelColor = QColor(255, 255, 255);
    QColor m_coherenceColor = QColor(255, 255, 255);
    double m_renderScale = 1.0;
    ChartCache m_cache;
};

} // namespace snt::ui
