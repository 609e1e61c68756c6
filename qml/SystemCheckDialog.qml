import QtQuick

// "检查系统配置": the results of the audio set-up check, each with its state and detail, an
// "打开" button where the system has a page for it, "一键修复" while something fails or can be
// fixed, and "重新检查".
Item {
    id: dialog

    property bool open: false
    property bool checking: false
    readonly property var entries: bridge.systemChecks
    readonly property bool offersFix: entries.some(e => e.fixable
                                                   || (!e.ok && !e.info && !e.note))

    function showDialog() {
        open = true
        bridge.runSystemCheck()
    }

    // Two presses within the half second run one check.
    function recheck() {
        if (checking)
            return
        checking = true
        checkDelay.start()
    }

    anchors.fill: parent
    visible: open
    z: 300

    Timer {
        id: checkDelay
        interval: 120
        onTriggered: {
            bridge.runSystemCheck()
            checkEnd.start()
        }
    }
    Timer {
        id: checkEnd
        interval: 380
        onTriggered: dialog.checking = false
    }

    Rectangle {
        anchors.fill: parent
        color: "#A0000000"

        MouseArea {
            anchors.fill: parent
        }
    }

    GlowCard {
        id: card
        anchors.centerIn: parent
        width: 500
        height: 820
        color: bridge.theme.cardSolid
        borderColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Text {
            x: 30
            y: 28
            text: "检查系统配置"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
        }

        IconButton {
            objectName: "closeCheck"
            anchors.right: parent.right
            anchors.rightMargin: 16
            y: 16
            size: 38
            inset: 9
            bordered: false
            icon: "i-del"
            onClicked: dialog.open = false
        }

        Flickable {
            id: list
            objectName: "checkList"
            x: 30
            y: 84
            width: card.width - 60
            height: card.height - 180
            contentHeight: rows.height
            boundsBehavior: Flickable.StopAtBounds
            clip: true

            Column {
                id: rows
                width: list.width

                Repeater {
                    model: dialog.entries

                    CheckEntry {
                        width: rows.width
                    }
                }
            }
        }

        Rectangle {
            objectName: "checkScrollIndicator"
            visible: list.contentHeight > list.height
            x: list.x + list.width + 8
            y: list.y + list.visibleArea.yPosition * list.height
            width: 3
            height: Math.max(30, list.visibleArea.heightRatio * list.height)
            radius: 1.5
            color: bridge.theme.text
            opacity: 0.22
        }

        PillButton {
            objectName: "fixButton"
            visible: dialog.offersFix
            anchors.right: recheckButton.left
            anchors.rightMargin: 12
            anchors.verticalCenter: recheckButton.verticalCenter
            width: 110
            height: 46
            fontSize: 14
            text: "一键修复"
            onClicked: bridge.toast(bridge.applySystemFixes())
        }

        PillButton {
            id: recheckButton
            objectName: "recheckButton"
            anchors.right: parent.right
            anchors.rightMargin: 30
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 28
            width: 100
            height: 46
            fontSize: 14
            primary: false
            enabled: !dialog.checking
            text: dialog.checking ? "正在检查…" : "重新检查"
            onClicked: dialog.recheck()
        }
    }

    // One entry: a dot (not for tips), the heading with its kind, the detail, and "打开" where
    // the entry names a system page.
    component CheckEntry: Item {
        id: entry
        required property var modelData
        readonly property bool failed: !modelData.ok && !modelData.info && !modelData.note
        readonly property bool hasAction: (modelData.action || "") !== ""

        // 74 high, taller where a long detail needs more lines: it wraps, never cut short.
        height: Math.max(74, detail.y + detail.height + 12)

        Rectangle {
            objectName: "entryDot"
            visible: !entry.modelData.note
            y: 13
            width: 10
            height: 10
            radius: 5
            color: entry.failed ? "#4A8EFF" : entry.modelData.info ? "#8A8F98" : bridge.theme.text
        }

        Text {
            objectName: "entryHeading"
            x: entry.modelData.note ? 0 : 20
            y: 6
            width: parent.width - x - (entry.hasAction ? 76 : 0)
            elide: Text.ElideRight
            text: (entry.modelData.note ? "小贴士 · " : entry.modelData.info
                                          ? "提示 · " : entry.modelData.ok
                                            ? "正常 · " : "需要处理 · ") + entry.modelData.name
            color: entry.failed ? bridge.theme.danger : bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 15
            font.bold: true
        }

        Text {
            id: detail
            objectName: "entryDetail"
            x: entry.modelData.note ? 0 : 20
            y: 32
            width: parent.width - x - (entry.hasAction ? 76 : 0)
            text: entry.modelData.detail || ""
            wrapMode: Text.Wrap
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }

        PillButton {
            objectName: "openAction"
            visible: entry.hasAction
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: 64
            height: 30
            fontSize: 12
            pad: 10
            primary: false
            text: "打开"
            onClicked: bridge.openSystemAction(entry.modelData.action)
        }

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: bridge.theme.line
        }
    }
}
