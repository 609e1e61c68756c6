import QtQuick
import "Palette.js" as Palette

// One workflow of the home list: its icon, name and badge, sliding in from the left once after
// `enterDelay` and shifting right while it or a row above it is hovered. The glow behind it fades
// in while hovered (always on with "--show-glow").
Item {
    id: row

    property string icon
    property string name
    property string badge
    property string tip
    property bool soon: false
    property int rowIndex: 0
    property int enterDelay: rowIndex * 120
    property int hoverDuration: 460
    property real rowHeight: 109
    property real iconSize: 93

    // The two parts of the horizontal shift: the entry slide and the hover shift.
    property real entryOffset: -22
    property real hoverShift: 0
    // The target and the delay of the last hover request, for the cascade to be seen.
    property real hoverTarget: 0
    property int hoverDelay: 0

    readonly property bool showGlow: Qt.application.arguments.indexOf("--show-glow") >= 0
    readonly property bool isHovered: area.containsMouse

    signal clicked
    signal hovered(bool on)

    // Moves the hover shift to `target`: at once when delay <= 0, else after `delay` ms. A newer
    // call cancels a pending one.
    function animateHover(target, delay) {
        hoverTarget = target
        hoverDelay = Math.max(0, delay)
        pendingHover.stop()
        if (delay > 0) {
            pendingHover.interval = delay
            pendingHover.start()
        } else {
            startHover()
        }
    }

    function startHover() {
        hoverMove.stop()
        hoverMove.to = hoverTarget
        hoverMove.start()
    }

    height: rowHeight
    transform: Translate {
        x: row.entryOffset + row.hoverShift
    }

    UiMotion {
        id: motion
    }

    Timer {
        id: pendingHover
        onTriggered: row.startHover()
    }

    NumberAnimation {
        id: hoverMove
        target: row
        property: "hoverShift"
        duration: row.hoverDuration
        easing.type: Easing.BezierSpline
        easing.bezierCurve: motion.silk
    }

    SequentialAnimation {
        running: true
        PauseAnimation {
            duration: row.enterDelay
        }
        NumberAnimation {
            target: row
            property: "entryOffset"
            to: 0
            duration: motion.enterDuration
            easing.type: Easing.BezierSpline
            easing.bezierCurve: motion.silk
        }
    }

    GlowField {
        objectName: "rowGlow"
        x: -25
        y: -12
        width: row.width + 50
        height: row.rowHeight + 25
        centerY: 0.5
        radiusX: 0.62
        radiusY: 0.76
        alphaCenter: 0.40
        alphaMid: 0.24
        alphaOuter: 0.10
        alphaTail: 0.03
        opacity: row.isHovered || row.showGlow ? 1 : 0

        Behavior on opacity {
            NumberAnimation {
                duration: 240
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        id: iconSlot
        width: 93
        height: 93
        anchors.verticalCenter: parent.verticalCenter

        UiImage {
            anchors.centerIn: parent
            width: row.iconSize
            height: row.iconSize
            source: "qrc:/icons/" + row.icon + ".svg"
            tint: Palette.white
            oversample: 2
        }
    }

    Row {
        x: iconSlot.width + 27
        y: iconSlot.y + iconSlot.height - 16 - height
        spacing: 11

        Text {
            objectName: "rowName"
            anchors.bottom: parent.bottom
            text: row.name
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
            font.letterSpacing: 1.23
        }

        Rectangle {
            objectName: "rowBadge"
            anchors.bottom: parent.bottom
            visible: row.badge !== ""
            width: badgeText.implicitWidth + 19
            height: 25
            radius: 12
            color: "transparent"
            border.width: 1
            border.color: Palette.white25

            Text {
                id: badgeText
                anchors.centerIn: parent
                text: row.badge
                color: Palette.white
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 14
                font.letterSpacing: 1.64
            }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onContainsMouseChanged: row.hovered(containsMouse)
        onClicked: row.clicked()
    }

    HoverTip {
        wanted: row.isHovered
        text: row.tip
    }
}
