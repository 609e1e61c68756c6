import QtQuick
import "Palette.js" as Palette

// Measuring the subwoofer against the main reference: the lift, the chart of both, the meters
// with what to do about their levels, and the calibration state.
Flickable {
    id: step

    readonly property var info: bridge.subInfo
    readonly property bool bothPeaks: bridge.measurePeak > -90 && bridge.referencePeak > -90
    readonly property var lifts: [{value: 6, text: "轻"}, {value: 10, text: "常规"},
        {value: 15, text: "演出"}, {value: 20, text: "重"}]

    // What the engineer should do about the two meters while the capture waits for them.
    function levelPrompt() {
        if (!bothPeaks)
            return "两个表头都出信号后，对齐了进度条才开始走"
        const d = bridge.subLevelDiffDb
        if (d < -3.0)
            return "测量比参考低 " + Math.abs(d).toFixed(1) + " dB，把测量推高一点"
        if (d > 6.0)
            return "测量比参考高 " + d.toFixed(1) + " dB，把测量推低一点"
        return "当前差值 " + (d > 0 ? "+" : "") + d.toFixed(1) + " dB；"
                + (bridge.measureProgress > 0.01 ? "保持住，继续中" : "稳定 0.4 秒后进度条开始走")
    }

    function calibrationBadge() {
        if (!bothPeaks)
            return "对齐表头中"
        const diff = bridge.measurePeak - bridge.referencePeak
        return Math.abs(diff) <= 1.0 ? "已对齐" : "差 " + diff.toFixed(1) + " dB"
    }

    y: 76
    width: 600
    height: 1038 - 76
    contentWidth: width
    contentHeight: 960
    boundsBehavior: Flickable.StopAtBounds
    clip: true

    component Line: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 1.2
    }

    MeasureTitle {
        y: 40
        text: "超低测量"
    }
    Text {
        objectName: "calibrationBadge"
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 56
        visible: bridge.subCalibrating
        text: step.calibrationBadge()
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
    }
    Line {
        objectName: "liftLine"
        x: 60
        y: 108
        text: "响差 +" + bridge.subLift + " dB"
    }
    Line {
        objectName: "mainStatus"
        x: 60
        y: 136
        text: step.info.mainLoaded ? "主扩参考已选好，接下来测超低" : "请先用点声源或线阵列处理主扩"
        opacity: 0.6
        font.pixelSize: 14
    }
    Line {
        x: 60
        y: 166
        text: "主扩参考曲线"
        font.bold: true
    }
    Line {
        objectName: "mainReference"
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 166
        text: step.info.mainName ? step.info.mainName
                                 : bridge.subMeasured > 0 ? "现场测量 · 已处理" : "未选择"
    }

    SubChartCard {
        objectName: "measureChart"
        x: 60
        y: 204
        height: 307
        chart.points: bridge.subMeasured >= 2 ? bridge.subRaw
                                              : bridge.measuring ? bridge.measuringCurve : []
        chart.points2: bridge.subMainCurve
        chart.coherence: bridge.measuring ? bridge.measuringCoherence : bridge.subSubCoherence
        chart.coherence2: bridge.subMainCoherence
        chart.targetCurve: bridge.subTarget
        chart.referenceFills: true
        chart.fillBoth: true
    }

    Line {
        x: 60
        y: 527
        text: "选一个响差"
        font.bold: true
    }
    Row {
        x: 60
        y: 558
        spacing: 11.3

        Repeater {
            model: step.lifts

            Rectangle {
                required property var modelData
                readonly property bool chosen: bridge.subLift === modelData.value
                objectName: "lift" + modelData.value
                width: 112
                height: 65
                radius: 18
                color: chosen ? Palette.brandBlue : "transparent"
                border.width: 1
                border.color: chosen ? Palette.glowBlue : bridge.theme.line25

                Column {
                    anchors.centerIn: parent
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "+" + modelData.value
                        color: chosen ? Palette.white : bridge.theme.text
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 18
                        font.bold: true
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: modelData.text
                        color: chosen ? Palette.white : bridge.theme.text70
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 13
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: bridge.subSetLift(modelData.value)
                }
            }
        }
    }

    ProgressTrack {
        objectName: "progress"
        y: 643
        visible: !bridge.subCalibrating
        value: bridge.measuring ? Math.max(0.02, bridge.measureProgress) : 0
    }

    MeasureMeterCard {
        objectName: "meterCard"
        x: 60
        y: 668
    }

    UiCard {
        objectName: "levelPrompt"
        x: 60
        y: 668
        width: 480
        height: 131
        visible: bridge.subWaitingForLevel && bridge.subStep === 1
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCardSolid : bridge.theme.cardSolid
        strokeColor: Palette.glowBlue

        Line {
            x: 25
            y: 22
            text: "请先对齐两个表头"
            font.bold: true
        }
        Line {
            objectName: "levelPromptText"
            x: 25
            y: 60
            width: 430
            wrapMode: Text.WordWrap
            text: step.levelPrompt()
            font.pixelSize: 15
        }
    }

    MeasureHelpPill {
        objectName: "helpPill"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 830
        text: "测量麦怎么摆"
        onClicked: bridge.subShowGuide()
    }
}
