import QtQuick
import "Palette.js" as Palette

// "补声对齐": the main system's pulse, then the fill's, then the delay that makes the fill arrive
// with the main. One button always offers the next step; the microphone guide opens over it.
Item {
    id: page

    readonly property int step: bridge.fillAlignStep
    readonly property bool done: step >= 2
    readonly property bool measuring: bridge.measuring
    readonly property bool armed: bridge.autoMeasuring
    readonly property real delayMs: bridge.fillAlignDelayMs
    readonly property bool delayNegative: delayMs < -0.05

    readonly property string statusText: done ? "补声已测完"
                                              : measuring ? (step === 0 ? "信号已开，点测量主扩"
                                                                        : "信号已开，点测量补声")
                                                          : step === 0 ? "先播放主扩" : "先播放补声"
    readonly property string primaryText: done ? "重新测量"
                                               : armed ? "测量中…"
                                                       : measuring ? (step === 0 ? "测量主扩" : "测量补声")
                                                                   : step === 0 ? "播放（主扩）"
                                                                                : "播放（补声）"

    function primaryAction() {
        if (done)
            bridge.beginFillAlign()
        else if (!measuring)
            bridge.fillAlignPlay()
        else
            bridge.fillAlignMeasure()
    }

    width: 600
    height: 1145

    component Line: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 1.2
    }

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {
        blue: false
        showDots: false
        variant: "measuring"
    }

    TopBar {
        title: "补声对齐"
        showProjectName: bridge.projectName !== ""
    }

    MeasureTitle {
        text: "补声测量"
    }
    Line {
        objectName: "status"
        x: 60
        y: 210
        text: page.statusText
    }

    UiCard {
        objectName: "pulseCard"
        x: 60
        y: 307
        width: 480
        height: 307
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Line {
            x: 25
            y: 18
            text: "脉冲"
            font.bold: true
        }
        FillPulseView {
            objectName: "pulseView"
            x: 19
            y: 48
            width: 442
            height: 245
            mainPulse: bridge.fillPulseMain
            fillPulse: bridge.fillPulseFill
            mainX: bridge.fillPulseMainX
            fillX: bridge.fillPulseFillX
            fillVisible: page.done
            showRuler: page.done
            delayMs: page.delayMs
        }
    }

    Row {
        objectName: "stepMarks"
        x: 60
        y: 640
        spacing: 16
        visible: !page.done

        Repeater {
            model: ["测主扩", "测补声"]

            Row {
                required property string modelData
                required property int index
                spacing: 16

                Line {
                    visible: index > 0
                    text: "→"
                    opacity: 0.5
                }
                Line {
                    objectName: "stepMark" + index
                    text: (page.step > index ? "✓ " : (index + 1) + " ") + modelData
                    font.bold: page.step === index
                    opacity: page.step >= index ? 1 : 0.5
                }
            }
        }
    }

    UiCard {
        objectName: "resultCard"
        x: 60
        y: 630
        width: 480
        height: 169
        visible: page.done
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Line {
            objectName: "resultLabel"
            x: 25
            y: 18
            text: page.delayNegative ? "主扩延时" : "补声延时"
            opacity: 0.7
        }
        Text {
            objectName: "resultValue"
            x: 25
            y: 42
            text: Math.abs(page.delayMs).toFixed(1) + " ms"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 34
            font.bold: true
        }
        Line {
            objectName: "resultLine"
            x: 25
            y: 98
            text: page.delayNegative ? "补声比主扩晚，先把主扩延后这个值" : "把这个值填入补声延时"
            font.pixelSize: 15
        }
        Line {
            x: 25
            y: 128
            text: "建议根据听感增减 3–5 ms，来调整补声定位感"
            font.pixelSize: 13
            opacity: 0.6
        }
    }

    ProgressTrack {
        objectName: "progress"
        y: 813
        visible: page.measuring
        value: page.armed ? Math.max(0.02, bridge.measureProgress) : 0
    }

    MeasureHelpPill {
        objectName: "guideLink"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 900
        text: "测量麦怎么摆"
        onClicked: bridge.fillMicGuideOpen = true
    }

    Rectangle {
        y: 1038
        width: parent.width
        height: 1
        color: bridge.theme.line
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 1061
        spacing: 11

        PillButton {
            objectName: "stopButton"
            width: 72
            height: 48
            visible: page.measuring
            primary: false
            text: "停止"
            fontSize: 17
            pad: 14
            onClicked: bridge.fillAlignStop()
        }
        PillButton {
            objectName: "primaryButton"
            width: 146
            height: 48
            enabled: page.done || !page.measuring || !page.armed
            text: page.primaryText
            fontSize: 17
            pad: 14
            breath: page.measuring && !page.armed && bridge.measureLevelReady
            onClicked: page.primaryAction()
        }
    }

    FillMicGuide {
        objectName: "fillMicGuide"
    }
}
