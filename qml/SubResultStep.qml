import QtQuick
import "Palette.js" as Palette

// The crossover result: the curves before and after, the two corners, the gain and polarity, the
// EQ bands, and the way to the processor.
Item {
    id: step

    readonly property var info: bridge.subInfo

    function signedDb(value) {
        return (value >= 0 ? "+" : "") + value.toFixed(1) + " dB"
    }

    width: 600
    height: 1038

    BreathText {
        objectName: "heading"
        x: 60
        y: 100
        text: "把这些参数输入到处理器超低通道"
        color: bridge.theme.text
        font.pixelSize: 22
        font.bold: true
        breath: true
    }

    SubChartCard {
        objectName: "resultChart"
        x: 60
        y: 148
        height: 259
        legend: [{text: "全频", color: chart.lineColor, dashed: false},
            {text: "超低", color: chart.line2Color, dashed: false},
            {text: "耦合", color: chart.line3Color, dashed: true},
            {text: "目标", color: chart.targetColor, dashed: true}]
        chart.points: bridge.subBefore
        chart.points2: bridge.subCalc
        chart.points3: bridge.subAfter
        chart.targetCurve: bridge.subTarget
        chart.coherence: bridge.subMainCoherence
        chart.coherence2: bridge.subSubCoherence
        chart.secondSolid: true
        chart.fillThird: true
        chart.line2Color: bridge.theme.chartLine2
    }

    Row {
        x: 60
        y: 423
        spacing: 14

        SubCornerCard {
            objectName: "hpfCard"
            title: "HPF"
            freqHz: step.info.lowFc || 0
            kind: step.info.lowKind || "BW"
            slopeDb: (step.info.lowOrder || 0) * 6
            onFreqEdited: hz => bridge.subUpdateCorner("hpf", hz, slopeDb)
            onSlopeEdited: slope => bridge.subUpdateCorner("hpf", freqHz, slope)
            onTypeEdited: kind => bridge.subUpdateCornerType("hpf", kind)
        }
        SubCornerCard {
            objectName: "lpfCard"
            title: "LPF"
            freqHz: step.info.lpFc || 0
            kind: step.info.lpKind || "LR"
            slopeDb: (step.info.lpOrder || 0) * 6
            onFreqEdited: hz => bridge.subUpdateCorner("lpf", hz, slopeDb)
            onSlopeEdited: slope => bridge.subUpdateCorner("lpf", freqHz, slope)
            onTypeEdited: kind => bridge.subUpdateCornerType("lpf", kind)
        }
    }

    UiCard {
        objectName: "gainCard"
        x: 60
        y: 541
        width: 480
        height: 58
        cornerRadius: 22
        fillColor: Palette.brandBlue

        Text {
            x: 25
            anchors.verticalCenter: parent.verticalCenter
            text: "增益"
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
        }
        Text {
            objectName: "gainValue"
            x: 90
            anchors.verticalCenter: parent.verticalCenter
            text: step.signedDb(step.info.gainDb || 0)
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }
        Text {
            objectName: "invertMark"
            anchors.right: parent.right
            anchors.rightMargin: 25
            anchors.verticalCenter: parent.verticalCenter
            visible: !!step.info.invert
            text: "反相"
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
        }
    }

    Text {
        objectName: "eqHeader"
        x: 60
        y: 617
        text: "EQ · " + bridge.subEqBands.length + " 段"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 17
        font.bold: true
    }
    PillButton {
        objectName: "addBandButton"
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 610
        height: 34
        fontSize: 14
        pad: 16
        primary: false
        text: "增加频点"
        onClicked: bridge.subAddEqBand()
    }

    SubEqTable {
        objectName: "eqTable"
        x: 60
        y: 658
        width: 480
        height: 26 + 4 * 49
    }

    IconButton {
        objectName: "uploadButton"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 966
        size: 48
        icon: "s-upload"
        tip: "点击打开处理器上传页面，选择对应处理器上传、导出或复制"
        onClicked: bridge.processorPanelOpen = true
    }
}
