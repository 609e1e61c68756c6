import QtQuick
import QtQuick.Controls

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
        color: control.checked ? "#083988" : "transparent"
        border.width: 1
        border.color: control.checked ? "#4A8EFF" : bridge.darkMode ? "#40FFFFFF" : "#4D000000"
    }

    Rectangle {
        objectName: "knob"
        readonly property real diameter: Math.max(8, control.height - 5)
        width: diameter
        height: diameter
        radius: diameter / 2
        x: control.checked ? control.width - 2.5 - diameter : 2.5
        anchors.verticalCenter: parent.verticalCenter
        color: control.checked || bridge.darkMode ? "#FFFFFF" : "#0A0A0A"

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

    ToolTip.visible: tip !== "" && area.containsMouse
    ToolTip.delay: 500
    ToolTip.text: tip
}
