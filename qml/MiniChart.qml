import QtQuick

// The small chart of cards and lists: compact, no labels, the primary curve filled, coherence
// shown and gating the curve, every colour derived from one stroke colour.
CurveChart {
    id: chart

    property color strokeColor: bridge.theme.chartLine

    function strokeAt(alpha) {
        return Qt.rgba(strokeColor.r, strokeColor.g, strokeColor.b, alpha)
    }

    compact: true
    showGrid: true
    showLabels: false
    showFill: true
    fillPrimary: true
    referenceFills: true
    showCoherence: true
    coherenceThreshold: 0.7
    curveCoherenceGate: true
    lineColor: strokeColor
    line2Color: strokeAt(0.62)
    gridColor: strokeAt(0.10)
    axisColor: strokeAt(0.18)
    coherenceColor: bridge.theme.chartCoherence
}
