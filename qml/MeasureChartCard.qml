import QtQuick
import "Palette.js" as Palette

// The live chart card of the measuring screens: the curve, the earlier points dashed, and the
// coherence band at the top.
UiCard {
    property alias points: chart.points
    property alias historyCurves: chart.historyCurves
    property alias coherence: chart.coherence

    width: 480
    height: 307
    cornerRadius: 27
    fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid

    CurveChart {
        id: chart
        objectName: "measureChart"
        anchors.fill: parent
        showCoherence: true
        coherenceThreshold: 0.7
        referenceFills: true
        showFill: true
        fillPrimary: true
        padTop: 40
        padBottom: 56
        padLeft: 65
        padRight: 24
        lineColor: bridge.theme.chartLine
        line2Color: bridge.theme.chartLine2
        historyColor: bridge.theme.chartLine
        gridColor: bridge.theme.chartGrid
        axisColor: bridge.theme.chartAxis
        labelColor: bridge.theme.chartLabel
        coherenceColor: bridge.theme.chartCoherence
    }
}
