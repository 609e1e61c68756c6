import QtQuick

// The curve window's chart area for one pack: its name, the coherence switch, the smoothing
// picker, export and delete, and two charts: phase above, magnitude below. A subwoofer-alignment
// pack shows main, subwoofer and their sum; a line-array pack its average over the points.
Item {
    id: view

    property var pack: ({})
    property int packIndex: -1
    property bool showCoherence: true
    readonly property bool subAlignPack: pack.subAlign === true
    readonly property bool arrayPack: pack.isArray === true
    readonly property color chartLine: bridge.theme.chartLine
    readonly property var smoothingOptions: [
        {value: 3, label: "1/3 OCT", short: "1/3 OCT"},
        {value: 6, label: "1/6 OCT（默认）", short: "1/6 OCT"},
        {value: 12, label: "1/12 OCT", short: "1/12 OCT"},
        {value: 48, label: "1/48 OCT", short: "1/48 OCT"},
        {value: 0, label: "不平滑", short: "不平滑"}
    ]

    signal coherenceToggled
    signal deleteClicked

    function resetPhase() {
        phaseChart.phaseCenter = 0
    }

    // The first of the pack's lists that is not empty.
    function firstList(...keys) {
        for (const key of keys) {
            const list = pack[key]
            if (list && list.length > 0)
                return list
        }
        return []
    }

    Text {
        anchors.centerIn: parent
        visible: view.packIndex < 0
        text: "选择曲线包"
        color: bridge.theme.text50
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
    }

    Item {
        id: header
        visible: view.packIndex >= 0
        x: 14
        width: parent.width - 28
        height: 52

        Text {
            objectName: "packName"
            anchors.left: parent.left
            anchors.right: controls.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            text: view.pack.name || ""
            elide: Text.ElideRight
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
        }

        Row {
            id: controls
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8

            IconButton {
                objectName: "coherenceToggle"
                anchors.verticalCenter: parent.verticalCenter
                size: 26
                inset: 4
                bordered: false
                icon: "s-snt-coherence"
                opacity: view.showCoherence ? 1 : 0.45
                tip: "相干性"
                onClicked: view.coherenceToggled()
            }
            Picker {
                objectName: "octChip"
                anchors.verticalCenter: parent.verticalCenter
                width: 92
                height: 26
                fontSize: 12
                menuWidth: 150
                options: view.smoothingOptions
                value: bridge.smoothingBands
                onPicked: value => bridge.smoothingBands = value
            }
            IconButton {
                objectName: "exportPack"
                anchors.verticalCenter: parent.verticalCenter
                size: 26
                inset: 5
                icon: "s-download"
                tip: "导出曲线"
                onClicked: bridge.exportCurvePack(view.packIndex)
            }
            // Deleted without asking, unlike a project: a pack is one result, a project all.
            IconButton {
                objectName: "deletePack"
                anchors.verticalCenter: parent.verticalCenter
                size: 26
                inset: 5
                icon: "i-del"
                tip: "删除曲线"
                onClicked: view.deleteClicked()
            }
        }
    }

    component PackChart: CurveChart {
        padTop: 16
        padBottom: 32
        padLeft: 50
        padRight: 16
        labelSize: 8
        showGrid: true
        showLabels: true
        showXLabels: true
        coherenceThreshold: 0.7
        curveCoherenceGate: true
        referenceFills: false
        line2Color: bridge.theme.chartLine2
        line3Color: bridge.theme.chartLine
        historyColor: bridge.theme.chartLine
        gridColor: bridge.theme.chartGrid
        axisColor: bridge.theme.chartAxis
        labelColor: bridge.theme.chartLabel
        coherenceColor: bridge.theme.chartCoherence
    }

    component ChartFrame: Rectangle {
        x: 14
        width: view.width - 28
        radius: 10
        color: "transparent"
        border.width: 1
        border.color: bridge.theme.line
        clip: true
    }

    ChartFrame {
        id: phaseFrame
        visible: view.packIndex >= 0
        y: header.height
        height: (view.height - header.height - 14 - 10) / 2

        PackChart {
            id: phaseChart
            objectName: "phaseChart"
            anchors.fill: parent
            points: view.pack.phaseAfter || []
            points2: view.pack.phaseBefore || []
            coherence: view.firstList("phaseCoherence", "coherence")
            coherence2: view.firstList("phaseCoherence2", "phaseCoherence", "coherence")
            firstSolid: true
            secondSolid: false
            phaseMode: true
            phaseCompensated: true
            delayMs: view.pack.delayMs || 0
            yMin: -180
            yMax: 180
            showFill: false
            showCoherence: false
            lineColor: bridge.theme.chartLine
        }

        // Each notch turns the phase axis by 15 degrees; the chart wraps it.
        WheelHandler {
            target: null
            acceptedDevices: PointerDevice.Mouse | PointerDevice.TouchPad
            onWheel: event => phaseChart.phaseCenter += 15 * Math.round(event.angleDelta.y / 120)
        }
    }

    ChartFrame {
        visible: view.packIndex >= 0
        y: phaseFrame.y + phaseFrame.height + 10
        height: phaseFrame.height

        PackChart {
            objectName: "magnitudeChart"
            anchors.fill: parent
            points: (view.subAlignPack ? view.pack.before : view.pack.after) || []
            points2: (view.subAlignPack ? view.pack.after : view.pack.before) || []
            points3: view.subAlignPack ? (view.pack.third || []) : []
            historyCurves: []
            coherence: view.pack.coherence || []
            coherence2: view.subAlignPack ? view.firstList("coherence2", "phaseCoherence2")
                                          : (view.pack.coherence || [])
            showCoherence: view.showCoherence && (view.pack.coherence || []).length > 1
            firstSolid: !view.subAlignPack
            secondSolid: view.arrayPack
            thirdSolid: true
            uniformWidth: view.subAlignPack
            showFill: true
            fillPrimary: !view.subAlignPack
            fillThird: view.subAlignPack
            lineColor: view.subAlignPack ? bridge.theme.chartLine2 : bridge.theme.chartLine
            // A line array's measured curve: the palette's curve colour, lighter.
            line2Color: view.arrayPack ? Qt.rgba(view.chartLine.r, view.chartLine.g,
                                                 view.chartLine.b, 0.62)
                                       : bridge.theme.chartLine2
        }

        Text {
            objectName: "packQuestion"
            anchors.right: parent.right
            anchors.rightMargin: 18
            y: 18
            visible: (view.pack.question || "") !== ""
            text: view.pack.question || ""
            color: bridge.theme.danger
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
    }
}
