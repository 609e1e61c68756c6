import QtQuick
import "Palette.js" as Palette

// "发现新版本": the offer of a newer version with its date and notes, and its download. While
// the download runs the dialog cannot be closed and both buttons rest.
Item {
    id: dialog

    anchors.fill: parent
    visible: bridge.updateDialogOpen
    z: 400

    Rectangle {
        objectName: "updateBackdrop"
        anchors.fill: parent
        color: Palette.backdrop

        MouseArea {
            anchors.fill: parent
            onClicked: if (!bridge.updating) bridge.updateDialogOpen = false
        }
    }

    GlowCard {
        id: card
        anchors.centerIn: parent
        width: 460
        height: 360
        color: bridge.theme.cardSolid

        // Clicks on the card stay on it.
        MouseArea {
            anchors.fill: parent
        }

        Text {
            x: 30
            y: 26
            width: card.width - 60
            elide: Text.ElideRight
            text: "发现新版本 " + bridge.updateVersion
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }
        Text {
            x: 30
            y: 62
            visible: bridge.updateDate !== ""
            opacity: 0.6
            text: "发布日期 " + bridge.updateDate
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
        Text {
            x: 30
            y: 96
            width: card.width - 60
            height: 150
            text: bridge.updateNotes
            wrapMode: Text.WordWrap
            elide: Text.ElideRight
            lineHeight: 1.4
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
        }

        Rectangle {
            objectName: "updateTrack"
            visible: bridge.updating
            x: 30
            y: 258
            width: card.width - 60
            height: 6
            radius: 3
            color: bridge.theme.line25

            Rectangle {
                objectName: "updateFill"
                width: Math.max(0.02, Math.min(1, bridge.updateProgress)) * parent.width
                height: parent.height
                radius: 3
                color: bridge.theme.text
            }
        }
        Text {
            visible: bridge.updating
            x: 30
            y: 272
            text: "正在下载… " + Math.round(bridge.updateProgress * 100) + "%"
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
        Text {
            objectName: "updateError"
            visible: bridge.updateError !== ""
            x: 30
            y: 272
            width: card.width - 60
            text: bridge.updateError
            wrapMode: Text.WordWrap
            color: Palette.red
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }

        Row {
            anchors.right: parent.right
            anchors.rightMargin: 30
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 24
            spacing: 12

            PillButton {
                objectName: "laterButton"
                width: 96
                height: 44
                fontSize: 15
                primary: false
                enabled: !bridge.updating
                text: "稍后"
                onClicked: bridge.updateDialogOpen = false
            }
            PillButton {
                objectName: "updateButton"
                width: 96
                height: 44
                fontSize: 15
                enabled: !bridge.updating
                text: bridge.updating ? "更新中…" : "更新"
                onClicked: bridge.startUpdate()
            }
        }
    }
}
