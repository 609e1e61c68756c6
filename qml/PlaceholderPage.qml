import QtQuick

// Stands for a screen that is not built yet: its screen name under a top bar, so that every
// screen name leads somewhere visible.
Item {
    id: page

    width: 600
    height: 1145

    Background {}

    TopBar {
        showBack: bridge.screen !== "主页"
    }

    Text {
        objectName: "screenName"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 140
        text: bridge.screen
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 27
        font.bold: true
    }
}
