import QtQuick
import QtQuick.Window

// Stands for a side window that is not built yet: a frameless window with its title and a
// button that closes it.
Window {
    id: window

    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: bridge.theme.bg
        border.width: 1
        border.color: bridge.theme.line25

        Text {
            x: 16
            height: 48
            verticalAlignment: Text.AlignVCenter
            text: window.title
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
        }

        PillButton {
            objectName: "closeWindow"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 16
            primary: false
            text: "关闭"
            onClicked: window.close()
        }
    }
}
