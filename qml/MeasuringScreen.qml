import QtQuick
import "Palette.js" as Palette

// Measuring one point-source loudspeaker: one button that always offers the next step (play,
// then, once the meters agree, measure and compute), the live curve, the level alignment and
// the meters. Everything shown follows the bridge.
Item {
    id: page

    readonly property bool busy: bridge.computing || bridge.autoMeasuring
    readonly property string primaryText: busy ? "计算中"
                                               : bridge.measuring ? (bridge.measureLevelReady
                                                                     ? "自动测量计算" : "请对齐表头")
                                                                  : "播放（全频）"
    readonly property bool primaryEnabled: busy ? false : bridge.measuring
                                                  ? bridge.measureLevelReady : true

    // The alignment status: nothing until both meters show a signal.
    readonly property string alignText: {
        if (!bridge.measuring || !(bridge.measurePeak > -90) || !(bridge.referencePeak > -90))
            return ""
        if (bridge.measureLevelReady)
            return "已对齐"
        const gap = bridge.measureLevelGapDb
        if (gap < -3.0)
            return "比参考低 " + Math.abs(gap).toFixed(1) + " dB"
        if (gap > 6.0)
            return "比参考高 " + gap.toFixed(1) + " dB"
        return "正在稳定…"
    }

    width: 600
    height: 1145

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
        title: "测量中"
        showProjectName: bridge.projectName !== ""
    }

    MeasureTitle {
        objectName: "title"
        text: "点声源测量"
    }

    SplLine {}

    GlowField {
        y: 241
        width: 600
        height: 498
        centerY: 0.49
        radiusX: 0.78
        radiusY: 0.677
        alphaCenter: 0.42
        alphaMid: 0.28
        alphaOuter: 0.07
        alphaTail: 0.02
    }

    MeasureChartCard {
        objectName: "chartCard"
        x: 60
        y: 307
        points: bridge.measuringCurveFlat
        coherence: bridge.measuringCoherenceFlat
    }

    Row {
        x: 60
        y: 631
        spacing: 16

        Repeater {
            model: ["测量中", "›", "插入延时", "›", "保存中"]

            Text {
                required property string modelData
                required property int index
                text: modelData
                color: bridge.theme.text
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 16
                font.bold: index === 0
                font.letterSpacing: 2.29
            }
        }
    }

    ProgressTrack {
        y: 674
        value: bridge.autoMeasuring ? Math.max(0.02, bridge.measureProgress) : 0
    }

    UiCard {
        objectName: "alignCard"
        x: 60
        y: 703
        width: 480
        height: 92
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Text {
            x: 25
            y: 18
            text: "对齐表头"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
            font.letterSpacing: 1.09
        }
        Text {
            objectName: "alignStatus"
            anchors.right: parent.right
            anchors.rightMargin: 25
            y: 18
            text: page.alignText
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
        }
        Text {
            x: 25
            y: 52
            width: 430
            wrapMode: Text.WordWrap
            text: "把「测量」和「参考」表头对齐；信号里短促的啪啪声是峰值，正常现象"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
    }

    GlowField {
        y: 785
        width: 600
        height: 266
        centerY: 0.46
        radiusX: 0.78
        radiusY: 0.636
        alphaCenter: 0.38
        alphaMid: 0.25
        alphaOuter: 0.065
        alphaTail: 0.02
    }

    MeasureMeterCard {
        objectName: "meterCard"
        x: 60
        y: 824
    }

    MeasureHelpPill {
        objectName: "helpPill"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 972
        visible: !bridge.pointGuideHidden
        text: "测量麦怎么摆"
        onClicked: bridge.micGuideOpen = true
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
            visible: bridge.measuring || bridge.computing
            primary: false
            text: bridge.computing ? "取消" : "停止"
            tip: "停止"
            fontSize: 17
            pad: 14
            onClicked: bridge.stopAnyAction()
        }
        PillButton {
            objectName: "primaryButton"
            width: 146
            height: 48
            enabled: page.primaryEnabled
            text: page.primaryText
            tip: page.primaryText === "播放（全频）" ? "播放信号" : "点击开始自动测量计算"
            fontSize: 17
            pad: 14
            breath: bridge.measuring && !bridge.autoMeasuring && bridge.measureLevelReady
            onClicked: bridge.measurePrimaryAction()
        }
    }
}
