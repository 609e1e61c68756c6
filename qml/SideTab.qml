import QtQuick
import "Palette.js" as Palette

// A tab on the window's right edge, its label one character per line; rounded on the left only.
Item {
    id: tab

    property string label
    property bool locked: false
    property bool active: false
    readonly property bool hovered: area.containsMouse

    signal clicked

    implicitWidth: 35
    implicitHeight: 76

    readonly property color fill: active ? Palette.white
                                         : hovered && !locked ? Palette.brandBlueHover
                                                              : bridge.theme.blue

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: tab.fill
    }
    Rectangle {
        anchors.right: parent.right
        width: parent.width / 2
        height: parent.height
        color: tab.fill
    }

    Text {
        anchors.centerIn: parent
        text: tab.label
        horizontalAlignment: Text.AlignHCenter
        color: tab.active ? bridge.theme.blue : Palette.white
        opacity: tab.locked ? 0.55 : 1
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.bold: true
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: tab.clicked()
    }
}
