import QtQuick
import "Palette.js" as Palette

// Stands for an overlay dialog that is not built yet: a veil over the stage that takes the
// clicks, and a card with the dialog's title and a button that asks to close it.
Item {
    id: dialog

    property string title
    property bool open: false

    signal closeRequested

    anchors.fill: parent
    visible: open

    Rectangle {
        anchors.fill: parent
        color: Palette.backdrop

        MouseArea {
            anchors.fill: parent
        }
    }

    GlowCard {
        anchors.centerIn: parent
        width: 460
        height: 360
        color: bridge.theme.cardSolid

        Text {
            x: 30
            y: 28
            width: parent.width - 60
            text: dialog.title
            elide: Text.ElideRight
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }

        PillButton {
            objectName: "closeDialog"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 24
            primary: false
            text: "关闭"
            onClicked: dialog.closeRequested()
        }
    }
}
