import QtQuick
import "Palette.js" as Palette

// An on/off switch. Clicking only emits toggled(); the owner flips `checked`.
Item {
    id: control

    property bool checked: false
    property string tip

    signal toggled

    implicitWidth: 38
    implicitHeight: 21

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: control.checked ? Palette.brandBlue : "transparent"
        border.width: 1
        border.color: control.checked ? Palette.glowBlue
                                      : bridge.darkMode ? Palette.white25 : Palette.black30
    }

    Rectangle {
        objectName: "knob"
        readonly property real diameter: Math.max(8, control.height - 5)
        width: diameter
        height: diameter
        radius: diameter / 2
        x: control.checked ? control.width - 2.5 - diameter : 2.5
        anchors.verticalCenter: parent.verticalCenter
        color: control.checked || bridge.darkMode ? Palette.white : Palette.nearBlack

        Behavior on x {
            NumberAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: control.toggled()
    }

    HoverTip {
        wanted: area.containsMouse
        text: control.tip
    }
}
