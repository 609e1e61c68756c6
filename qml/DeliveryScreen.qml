import QtQuick
import "Palette.js" as Palette

// The chosen scheme on its way out: its effect on the curve, its corner filters and EQ bands to
// edit, the way to the processor panel, and on to the next loudspeaker. A scheme the engine
// refused shows why instead, and offers nothing to deliver.
Item {
    id: page

    // Read once per change of the schemes and handed on.
    readonly property var corners: bridge.corners
    readonly property var bands: bridge.eqBands
    readonly property bool blocked: !!corners.blocked

    width: 600
    height: 1145

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {}

    TopBar {
        showProjectName: true
    }

    Text {
        objectName: "heading"
        x: 60
        y: 100
        text: page.blocked ? "先把曲线测对，再算参数" : "把这些参数输入到处理器"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 27
        font.bold: true
    }

    UiCard {
        objectName: "chartCard"
        x: 60
        y: 153
        width: 480
        height: 262
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        CurveChart {
            objectName: "deliveryChart"
            anchors.fill: parent
            points: bridge.schemeAfter
            points2: bridge.schemeBefore
            coherence: bridge.schemeCoherence
            coherence2: coherence
            showCoherence: true
            coherenceThreshold: 0.7
            curveCoherenceGate: true
            showFill: true
            fillPrimary: true
            referenceFills: true
            lineColor: bridge.theme.chartLine
            line2Color: bridge.theme.chartLine2
            gridColor: bridge.theme.chartGrid
            axisColor: bridge.theme.chartAxis
            labelColor: bridge.theme.chartLabel
            coherenceColor: bridge.theme.chartCoherence
        }
    }

    Row {
        x: 60
        y: 425
        spacing: 24

        Repeater {
            model: [{label: "处理后", dashed: false}, {label: "处理前", dashed: true}]

            Row {
                id: legendEntry
                required property var modelData
                spacing: 8

                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 3
                    Repeater {
                        model: legendEntry.modelData.dashed ? 4 : 1
                        Rectangle {
                            width: legendEntry.modelData.dashed ? 3 : 21
                            height: 2
                            color: bridge.theme.text
                        }
                    }
                }
                Text {
                    text: legendEntry.modelData.label
                    color: bridge.theme.text
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 14
                }
            }
        }
    }

    UiCard {
        objectName: "blockedCard"
        x: 60
        y: 469
        width: 480
        height: 200
        visible: page.blocked
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Image {
            x: 25
            y: 25
            width: 32
            height: 32
            source: "qrc:/icons/s-snt-warn.png"
            sourceSize: Qt.size(64, 64)
        }
        Text {
            x: 70
            y: 28
            text: "这条曲线不建议计算"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }
        Text {
            objectName: "blockedReason"
            x: 25
            y: 76
            width: parent.width - 50
            wrapMode: Text.Wrap
            text: page.corners.blockedReason || ""
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 15
        }
        Rectangle {
            x: 25
            y: parent.height - 25 - height
            width: tag.implicitWidth + 24
            height: 28
            radius: 14
            color: "transparent"
            border.width: 1
            border.color: bridge.theme.danger

            Text {
                id: tag
                anchors.centerIn: parent
                text: "未输出 EQ"
                color: bridge.theme.danger
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 14
            }
        }
    }

    Row {
        x: 60
        y: 469
        spacing: 16
        visible: !page.blocked

        CornerCard {
            objectName: "hpfCard"
            side: "hpf"
            title: "HPF"
            corners: page.corners
        }
        CornerCard {
            objectName: "lpfCard"
            side: "lpf"
            title: "LPF"
            corners: page.corners
        }
    }

    Item {
        objectName: "gainRow"
        x: 60
        y: 612
        width: 480
        height: 24
        visible: !page.blocked

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "增益"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
        }
        Text {
            objectName: "gainText"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: page.corners.gain || ""
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
        }
    }

    BandList {
        objectName: "bandList"
        x: 60
        y: 652
        width: 480
        height: 370
        visible: !page.blocked
        bands: page.bands
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
        spacing: 12

        IconButton {
            objectName: "uploadButton"
            anchors.verticalCenter: parent.verticalCenter
            size: 48
            icon: "s-upload"
            tip: "点击打开处理器上传页面，选择对应处理器上传、导出或复制"
            onClicked: {
                if (page.blocked)
                    bridge.toast("这条曲线不建议计算，没有 EQ 可以导出")
                else
                    bridge.processorPanelOpen = true
            }
        }
        PillButton {
            objectName: "nextButton"
            height: 48
            text: "测量下一只音箱"
            fontSize: 17
            pad: 20
            onClicked: bridge.nextMeasurement()
        }
    }
}
