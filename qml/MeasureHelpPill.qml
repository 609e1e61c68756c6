import QtQuick

// The outlined pill that leads to help on the measuring screens.
Item {
    id: pill

    property string text

    signal clicked

    implicitWidth: 169
    implicitHeight: 45

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: "transparent"
        border.width: 1
        border.color: bridge.theme.line25
    }

    Text {
        anchors.centerIn: parent
        text: pill.text
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 2.29
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: pill.clicked()
    }
}
