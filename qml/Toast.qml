import QtQuick

// The bridge's toast text in a box near the bottom, above everything. The bridge text is cleared
// 4 s after it appeared; a new text while one shows does not restart the clock. Where other
// windows stand over its place, the box rises above them, though not into the top bar.
Item {
    id: toast

    property bool suppressed: false
    // From the bottom of the parent to the bottom of the box.
    property real bottomMargin: 71
    // Rectangles of other windows over this one, in this item's coordinates.
    property var covers: []
    // The highest the box goes: below the top bar.
    property real topLimit: 88

    // The box's top: at its place, or 12 px above the highest window over that place.
    readonly property real boxY: {
        const normal = height - bottomMargin - box.height
        let bottom = normal + box.height
        for (const cover of covers) {
            const overlaps = cover.x < box.x + box.width && cover.x + cover.width > box.x
                             && cover.y < normal + box.height && cover.y + cover.height > normal
            if (overlaps)
                bottom = Math.min(bottom, cover.y - 12)
        }
        return Math.max(topLimit, bottom - box.height)
    }

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
        y: toast.boxY
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
