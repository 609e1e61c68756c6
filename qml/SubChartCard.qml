import QtQuick
import "Palette.js" as Palette

// A level chart of the subwoofer screen: a fixed 36 dB window around its own centre, which the
// wheel (2 dB a notch) and a drag move within -30..+30 dB and a double tap puts back at 0. The
// legend names the curves shown, each with its colour and dash.
UiCard {
    id: card

    property real centerDb: 0
    property var legend: []
    property alias chart: chart
    property real dragFromY
    property real dragFromCenter

    function panTo(db) {
        centerDb = Math.max(-30, Math.min(30, db))
    }

    width: 480
    cornerRadius: 27
    fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
    strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

    CurveChart {
        id: chart
        objectName: "chart"
        anchors.fill: parent
        yMin: card.centerDb - 18
        yMax: card.centerDb + 18
        coherenceThreshold: 0.7
        showCoherence: true
        curveCoherenceGate: true
        fillPrimary: false
        showFill: true
        padTop: 25
        padBottom: 38
        padLeft: 55
        padRight: 14
        lineColor: bridge.theme.chartLine
        line2Color: Palette.paleBlue
        line3Color: bridge.theme.chartLine2
        targetColor: bridge.theme.chartTarget
        gridColor: bridge.theme.chartGrid
        axisColor: bridge.theme.chartAxis
        labelColor: bridge.theme.chartLabel
        coherenceColor: bridge.theme.chartCoherence
    }

    MouseArea {
        objectName: "panArea"
        anchors.fill: parent
        onPressed: mouse => {
                       card.dragFromY = mouse.y
                       card.dragFromCenter = card.centerDb
                   }
        onPositionChanged: mouse => card.panTo(card.dragFromCenter
                                               + (mouse.y - card.dragFromY) / height * 36)
        onDoubleClicked: card.centerDb = 0
        onWheel: wheel => card.panTo(card.centerDb + wheel.angleDelta.y / 120 * 2)
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 16
        y: 6
        spacing: 12

        Repeater {
            model: card.legend

            Row {
                id: entry
                required property var modelData
                spacing: 5

                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2
                    Repeater {
                        model: entry.modelData.dashed ? 3 : 1
                        Rectangle {
                            width: entry.modelData.dashed ? 5 : 16
                            height: 2
                            color: entry.modelData.color
                        }
                    }
                }
                Text {
                    text: modelData.text
                    color: bridge.theme.text70
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 11
                }
            }
        }
    }
}
