import QtQuick
import "Palette.js" as Palette

// One scheme's before and after curves over the screen, while the bridge asks for it. A click on
// the veil closes it; clicks on the card do not.
Item {
    id: dialog

    readonly property var schemes: bridge.schemes
    readonly property int selected: bridge.selectedScheme
    readonly property var scheme: selected >= 0 && selected < schemes.length ? schemes[selected]
                                                                             : null

    anchors.fill: parent
    visible: bridge.planDetailOpen

    Rectangle {
        objectName: "veil"
        anchors.fill: parent
        color: Palette.backdrop

        MouseArea {
            anchors.fill: parent
            onClicked: bridge.planDetailOpen = false
        }
    }

    Rectangle {
        objectName: "planCard"
        anchors.centerIn: parent
        width: 455
        height: 344
        radius: 27
        color: bridge.theme.blue

        MouseArea {
            anchors.fill: parent
        }

        Text {
            objectName: "planTitle"
            x: 27
            y: 24
            width: parent.width - 27 - 60
            text: dialog.scheme ? dialog.scheme.name : "方案说明"
            elide: Text.ElideRight
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }

        IconButton {
            objectName: "closeButton"
            anchors.right: parent.right
            anchors.rightMargin: 20
            y: 16
            icon: "i-del"
            iconColor: Palette.white
            borderColor: Palette.white25
            onClicked: bridge.planDetailOpen = false
        }

        CurveChart {
            objectName: "planChart"
            x: 14
            y: 70
            width: parent.width - 28
            height: parent.height - 84
            // Only while shown: each read builds the scheme's preview.
            points: dialog.visible ? bridge.schemeAfter : []
            points2: dialog.visible ? bridge.schemeBefore : []
            coherence: dialog.scheme ? (dialog.scheme.coherence || []) : []
            coherence2: coherence
            showCoherence: true
            coherenceThreshold: 0.7
            curveCoherenceGate: true
            showFill: true
            fillPrimary: true
            referenceFills: true
            lineColor: Palette.white
            line2Color: Palette.white70
            gridColor: Palette.white12
            axisColor: Palette.white25
            labelColor: Palette.white
            coherenceColor: Palette.white
        }
    }
}
