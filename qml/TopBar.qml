import QtQuick

// The bar at the top of a screen: back, title, project name, the system-check status (red and
// blinking while checks fail, with the update pill beside it) and home.
Item {
    id: bar

    objectName: "topBar"
    property string title
    property string projectName: bridge.projectName
    property bool showBack: true
    property bool showHome: true
    property bool showProjectName: false
    property bool showCheck: true
    property color textColor: bridge.theme.text
    // From the bar's right edge to its right-hand group; a screen that puts a button of its own
    // there (a dialog's close button) moves the group left of it.
    property real endMargin: 33

    // Failed checks; hints ("info") and tips ("note") are no failures.
    readonly property int failCount: {
        let count = 0
        for (const entry of bridge.systemChecks) {
            if (!entry.ok && !entry.info && !entry.note)
                ++count
        }
        return count
    }

    width: parent ? parent.width : 600
    height: 76

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: bridge.theme.line
    }

    IconButton {
        objectName: "backButton"
        x: 33
        anchors.verticalCenter: parent.verticalCenter
        visible: bar.showBack
        icon: "s-caret"
        iconRotation: 90
        inset: 9
        onClicked: bridge.back()
    }

    Text {
        objectName: "title"
        x: bar.showBack ? 87 : 33
        anchors.verticalCenter: parent.verticalCenter
        visible: bar.title !== ""
        text: bar.title
        color: bar.textColor
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 20
        font.bold: true
        font.letterSpacing: 1.23
    }

    IconButton {
        id: home
        objectName: "homeButton"
        anchors.right: parent.right
        anchors.rightMargin: bar.endMargin
        anchors.verticalCenter: parent.verticalCenter
        visible: bar.showHome
        icon: "s-snt-home"
        onClicked: bridge.home()
    }

    // The check button and the update pill share one slot: shown, hidden and blinking together.
    Item {
        id: checkSlot
        objectName: "checkSlot"
        readonly property bool blinking: bar.failCount > 0
        anchors.right: bar.showHome ? home.left : parent.right
        anchors.rightMargin: bar.showHome ? 10 : bar.endMargin
        anchors.verticalCenter: parent.verticalCenter
        width: check.width
        height: check.height
        visible: bar.showCheck

        Blinking {
            target: checkSlot
            running: checkSlot.blinking
        }

        IconButton {
            id: check
            objectName: "checkButton"
            icon: "s-snt-warn"
            iconColor: bar.failCount > 0 ? bridge.theme.danger : bridge.theme.icon
            onClicked: {
                const window = bar.Window.window
                if (window && typeof window.openSystemCheck === "function")
                    window.openSystemCheck()
            }
        }

        PillButton {
            id: update
            objectName: "updatePill"
            anchors.right: check.left
            anchors.rightMargin: 10
            anchors.verticalCenter: check.verticalCenter
            width: 96
            height: 30
            visible: bridge.updateAvailable
            primary: false
            text: "新版本"
            fontSize: 12
            pad: 10
            onClicked: bridge.updateDialogOpen = true
        }
    }

    // Right-aligned 16 px before the left-most thing of the right-hand group, so that it never
    // runs under the update pill.
    Text {
        objectName: "projectName"
        readonly property real rightEdge: {
            if (bar.showCheck)
                return checkSlot.x + (update.visible ? update.x : 0) - 16
            return bar.showHome ? home.x - 16 : bar.width - bar.endMargin
        }
        x: rightEdge - width
        anchors.verticalCenter: parent.verticalCenter
        width: Math.min(218, implicitWidth)
        visible: bar.showProjectName && bar.projectName !== ""
        text: bar.projectName
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignRight
        color: bar.textColor
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
    }
}
