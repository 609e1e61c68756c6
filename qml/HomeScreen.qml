import QtQuick
import "Palette.js" as Palette

// The home page: the six workflows over the blue background, the window buttons with the check
// and update markers, and the way to the settings. Its layout tightens on short pages.
Item {
    id: page

    property real cornerRadius: 0

    // Short below 982 px, compact below the full design height, normal at it.
    readonly property string layoutMode: height < 982 ? "short" : height < 1145 ? "compact"
                                                                                 : "normal"
    readonly property var layout: ({
                                       "short": {titleTop: 115, listTop: 197, rowHeight: 93,
                                                 spacing: 0},
                                       "compact": {titleTop: 128, listTop: 220, rowHeight: 98,
                                                   spacing: 3},
                                       "normal": {titleTop: 165, listTop: 268, rowHeight: 109,
                                                  spacing: 5}
                                   })[layoutMode]

    readonly property var rows: [
        {icon: "h-01-speaker", name: "点声源测量", badge: "", action: "measure", size: 91.6,
         tip: "测 单支点声源音箱测量"},
        {icon: "h-02-array", name: "线阵列测量", badge: "", action: "array", size: 91.6,
         tip: "测 整组线阵列音箱测量"},
        {icon: "h-03-delay", name: "补声对齐", badge: "", action: "fillalign", size: 71.3,
         tip: "主扩音箱和补声音箱对齐时间"},
        {icon: "h-05-align", name: "超低分频对齐", badge: "", action: "subxover", size: 81.4,
         tip: "超低音箱和主扩音箱分频对齐耦合"},
        {icon: "h-06-dotgrid", name: "房间校准", badge: "内测", action: "soon", size: 93.0,
         tip: "房间校准"},
        {icon: "h-07-xover", name: "两分频 / 三分频", badge: "内测", action: "soon", size: 65.4,
         tip: "两,三分频音箱分频设计"}
    ]

    // Failed checks; hints ("info") and tips ("note") are no failures.
    readonly property bool checksFail: {
        for (const entry of (bridge.systemChecks || [])) {
            if (!entry.ok && !entry.info && !entry.note)
                return true
        }
        return false
    }

    function run(action) {
        switch (action) {
        case "measure":
            bridge.go("点声源-测量中")
            break
        case "array":
            if (bridge.measureGuideHidden)
                bridge.beginArrayMeasurement()
            else
                bridge.go("测量引导")
            break
        case "fillalign":
            bridge.beginFillAlign()
            break
        case "subxover":
            bridge.beginSubXover()
            break
        default:
            bridge.toast("这一条还在内测")
        }
    }

    // The row under the pointer, -1 for none.
    property int hoveredRow: -1

    // Entering row i shifts it at once and the rows below it by a shrinking step after a growing
    // delay; the rows above go back. Leaving the hovered row sends every row back at once (the
    // leaving of a row the pointer already left for another changes nothing).
    function cascade(index, entered) {
        if (!entered && index !== hoveredRow)
            return
        hoveredRow = entered ? index : -1
        for (let j = 0; j < rowList.count; ++j) {
            const row = rowList.itemAt(j)
            if (!entered || j < index) {
                row.animateHover(0, 0)
            } else if (j === index) {
                row.animateHover(motion.hoverShift, 0)
            } else {
                const k = Math.min(j - index - 1, 5)
                row.animateHover(motion.cascadeShifts[k], motion.cascadeDelays[Math.min(k, 4)])
            }
        }
    }

    width: 600
    height: 1145

    UiMotion {
        id: motion
    }

    Rectangle {
        anchors.fill: parent
        radius: page.cornerRadius
        color: bridge.theme.bgBlue
    }

    Background {
        blue: true
        showDots: false
        approvedHome: true
    }

    UiImage {
        objectName: "wordmark"
        x: 50
        y: 30
        width: 140
        height: 66.2
        source: "qrc:/icons/h-wordmark.svg"
        oversample: 2
    }

    component WindowButton: IconButton {
        inset: 8
        borderColor: Palette.white25
        iconColor: Palette.white
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 33
        y: 19
        spacing: 10

        PillButton {
            objectName: "updatePill"
            anchors.verticalCenter: parent.verticalCenter
            width: 96
            height: 30
            visible: !!bridge.updateAvailable
            primary: false
            text: "新版本"
            fontSize: 12
            outlineColor: Palette.white25
            onClicked: bridge.updateDialogOpen = true
        }
        WindowButton {
            id: check
            objectName: "checkButton"
            icon: "s-snt-warn"
            iconColor: page.checksFail ? bridge.theme.danger : Palette.white
            onClicked: {
                const window = page.Window.window
                if (window && typeof window.openSystemCheck === "function")
                    window.openSystemCheck()
            }

            Blinking {
                target: check
                running: page.checksFail
            }
        }
        WindowButton {
            objectName: "minimizeButton"
            icon: "s-minus"
            onClicked: page.Window.window.showMinimized()
        }
        WindowButton {
            objectName: "closeButton"
            icon: "i-close"
            onClicked: page.Window.window.close()
        }
    }

    Text {
        objectName: "title"
        anchors.horizontalCenter: parent.horizontalCenter
        y: page.layout.titleTop
        text: "别紧张 想干啥就点啥"
        color: Palette.white
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 44
        font.bold: true
        font.letterSpacing: 0.61
    }

    Column {
        objectName: "rowList"
        x: 93 + Math.max(0, (page.width - 600) / 2)
        y: page.layout.listTop
        width: Math.min(475, page.width - 126)
        spacing: page.layout.spacing

        Repeater {
            id: rowList
            model: page.rows

            HomeRow {
                required property var modelData
                required property int index

                objectName: "homeRow" + index
                width: parent.width
                rowHeight: page.layout.rowHeight
                rowIndex: index
                hoverDuration: motion.hoverDuration
                icon: modelData.icon
                name: modelData.name
                badge: modelData.badge
                tip: modelData.tip
                soon: modelData.action === "soon"
                iconSize: modelData.size
                onClicked: page.run(modelData.action)
                onHovered: on => page.cascade(index, on)
            }
        }
    }

    Item {
        objectName: "settingsSeal"
        x: 33
        y: page.height - 22 - height
        width: 46
        height: 46

        UiImage {
            anchors.fill: parent
            opacity: 0.9
            source: "qrc:/icons/h-seal.svg"
            tint: Palette.white
        }

        MouseArea {
            id: sealArea
            anchors.fill: parent
            anchors.margins: -11
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: bridge.go("设置")
        }

        HoverTip {
            wanted: sealArea.containsMouse
            text: "设置"
        }
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 33
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 33
        spacing: 16

        UiImage {
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            opacity: 0.8
            source: "qrc:/icons/h-reg.svg"
            tint: Palette.white
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "EST. 2026"
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
            font.letterSpacing: 2.73
        }
    }
}
