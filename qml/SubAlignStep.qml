import QtQuick
import "Palette.js" as Palette

// Aligning the subwoofer with the main: the main captured, then the subwoofer, then the delay and
// polarity that make them add up in the crossover region, with their sum.
Item {
    id: step

    readonly property var info: bridge.subInfo
    readonly property int stage: bridge.subAlignStage
    readonly property bool measuring: bridge.measuring
    readonly property bool aligned: bridge.subAlignAligned
    readonly property real delayMs: bridge.subAlignDelayMs
    readonly property bool delayIsMain: delayMs < 0
    readonly property string delayText: Math.abs(delayMs).toFixed(1)

    function advice() {
        if (!aligned)
            return info.why ? info.why : "主扩和超低没对齐，检查麦位和极性后重测"
        return "交叉区 " + Math.round(info.crossLo) + "–" + Math.round(info.crossHi) + " Hz\n"
                + (delayIsMain ? "先给主扩加 " + delayText + " ms"
                               : "先给超低加 " + delayText + " ms 延时")
                + (bridge.subAlignInvert ? "，反转超低极性" : "")
    }

    width: 600
    height: 1038

    MeasureTitle {
        y: 110
        text: "超低对齐"
    }
    BreathText {
        objectName: "stageLine"
        x: 60
        y: 176
        text: step.stage === 0 ? "请先测量主扩" : step.stage === 1 ? "请测量超低"
                                                           : "把延时和极性填入到对应处理器通道"
        color: bridge.theme.text
        font.pixelSize: 17
        breath: step.stage >= 2
    }

    SubChartCard {
        objectName: "alignChart"
        x: 60
        y: 218
        height: 259
        legend: [{text: "主扩", color: chart.lineColor, dashed: false},
            {text: "超低", color: chart.line2Color, dashed: false},
            {text: "耦合", color: chart.line3Color, dashed: false}]
        chart.points: step.measuring && step.stage === 0 ? bridge.measuringCurve
                                                         : bridge.subAlignMainCurve
        chart.points2: step.measuring ? (step.stage === 1 ? bridge.measuringCurve : [])
                                      : bridge.subAlignSubCurve
        chart.points3: step.stage >= 2 ? bridge.subAlignCoupled : []
        chart.coherence: step.measuring && step.stage === 0 ? bridge.measuringCoherence
                                                            : bridge.subAlignMainCoherence
        chart.coherence2: step.measuring ? (step.stage === 1 ? bridge.measuringCoherence : [])
                                         : bridge.subAlignSubCoherence
        chart.firstSolid: !(step.measuring && step.stage === 1) && step.stage < 2
        chart.secondSolid: step.measuring && step.stage === 1
        chart.thirdSolid: true
        chart.uniformWidth: true
        chart.fillBoth: step.stage < 2
        chart.fillThird: step.stage >= 2
    }

    UiCard {
        objectName: "alignResult"
        x: 60
        y: 493
        width: 480
        height: 150
        visible: step.stage >= 2
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Text {
            objectName: "delayLabel"
            x: 25
            y: 18
            text: step.delayIsMain ? "主扩延时" : "超低延时"
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 15
        }
        Text {
            objectName: "delayValue"
            x: 25
            y: 42
            text: step.aligned ? step.delayText + " ms" : "—"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 28
            font.bold: true
        }
        Column {
            objectName: "polarity"
            anchors.right: parent.right
            anchors.rightMargin: 25
            y: 18
            visible: !step.aligned || bridge.subAlignInvert
            Text {
                anchors.right: parent.right
                text: "极性"
                color: bridge.theme.text70
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 15
            }
            Text {
                objectName: "polarityValue"
                anchors.right: parent.right
                text: step.aligned ? "反转超低极性" : "—"
                color: bridge.theme.text
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 18
                font.bold: true
            }
        }
        Rectangle {
            x: 25
            y: 86
            width: 430
            height: 1
            color: bridge.theme.line
        }
        Text {
            objectName: "advice"
            x: 25
            y: 96
            width: 430
            wrapMode: Text.WordWrap
            text: step.advice()
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
            lineHeight: 1.2
        }
    }

    MeasureMeterCard {
        objectName: "meterCard"
        x: 60
        y: 700
        height: 177
        header: step.stage >= 2 ? "对齐" : "测量"
        subheader: step.stage >= 2 ? "主扩 + 超低" : "主扩 → 超低"
        showProgress: !bridge.subCalibrating
        progress: step.stage >= 2 ? 1.0 : step.measuring ? Math.max(0.02, bridge.measureProgress)
                                                         : 0
    }

    MeasureHelpPill {
        objectName: "helpPill"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 960
        text: "测量麦怎么摆"
        onClicked: bridge.subShowGuide()
    }
}
