import QtQuick

// The bridge's toast text in a box near the bottom, above everything. The bridge text is cleared
// 4 s after it appeared; a new text while one shows does not restart the clock.
Item {
    id: toast

    property bool suppressed: false
    // From the bottom of the parent to the bottom of the box.
    property real bottomMargin: 71

    anchors.fill: parent
    z: 1000
    visible: !suppressed && bridge.toastText !== ""

    Text {
        id: natural
        visible: false
        text: bridge.toastText
        font: message.font
    }

    Rectangle {
        id: box
        objectName: "toastBox"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: toast.bottomMargin
        width: Math.min(toast.width - 60, natural.implicitWidth + 44)
        height: message.height + 26
        radius: Math.min(25, height / 2)
        color: "#E61A1A20"
        border.width: 1
        border.color: bridge.theme.line25

        Text {
            id: message
            anchors.centerIn: parent
            width: box.width - 44
            text: bridge.toastText
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            color: "#FFFFFF"
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
        }
    }

    Timer {
        objectName: "toastTimer"
        interval: 4000
        running: bridge.toastText !== ""
        onTriggered: bridge.clearToast()
    }
}
