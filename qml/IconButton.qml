import QtQuick

// A round button showing one tinted icon of the set.
Item {
    id: button

    property string icon
    property real size: 38
    property bool bordered: true
    property bool hoverEffect: true
    property bool mirror: false
    property real iconRotation: 0
    property real inset: (size - 20) / 2
    property color iconColor: bridge.theme.icon
    property string tip
    property color borderColor: bridge.theme.line25
    readonly property bool hovered: area.containsMouse
    readonly property bool lit: hovered && hoverEffect

    signal clicked

    width: size
    height: size

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: button.lit ? bridge.theme.line06 : "transparent"
        border.width: button.bordered || button.lit ? 1 : 0
        border.color: button.lit ? bridge.theme.text : button.borderColor
    }

    UiImage {
        anchors.fill: parent
        anchors.margins: button.inset
        source: button.icon === "" ? "" : "qrc:/icons/" + button.icon + ".svg"
        tint: button.iconColor
        rotation: button.iconRotation
        mirror: button.mirror
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }

    HoverTip {
        wanted: button.hovered
        text: button.tip
    }
}
