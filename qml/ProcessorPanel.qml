import QtQuick
import QtQuick.Window
import "Palette.js" as Palette

// The processor panel: a frameless side window in which the engineer picks the processor in use.
// For the networked processor it finds and connects the device, keeps the link, shows four input
// and eight output strips and hosts the EQ, dynamics and preset pages; for two other makes it
// shows an import guide, for the rest a placeholder. The content is laid out at 660 x 516 and
// scaled with the window, whose resizing keeps the proportions 792 : 620.
Window {
    id: panel

    readonly property var proc: bridge.processor
    readonly property var devices: [{
            "name": "官方处理器",
            "mode": "direct"
        }, {
            "name": "XTA",
            "mode": "tutorial"
        }, {
            "name": "NST",
            "mode": "tutorial"
        }, {
            "name": "韵乐 X5",
            "mode": "unsupported"
        }, {
            "name": "雅士尼 4.8sp",
            "mode": "unsupported"
        }, {
            "name": "雅士尼 4.24c",
            "mode": "unsupported"
        }, {
            "name": "百威全系",
            "mode": "unsupported"
        }, {
            "name": "玛朗尼",
            "mode": "unsupported"
        }, {
            "name": "中创",
            "mode": "unsupported"
        }, {
            "name": "晶锐",
            "mode": "unsupported"
        }, {
            "name": "诺讯",
            "mode": "unsupported"
        }]

    property int deviceIndex: 0
    property string page: "main"
    property bool wantsConnection: false
    property bool manualMode: false
    property bool searching: false
    property bool hadLink: false
    property bool userDisconnected: false
    property bool firstConnectAttempt: false
    property var foundDevices: []
    property bool showDeviceMenu: false
    property string failedIp
    property string lastIp
    property string panelNote
    property string exportNoteText
    property bool exportNoteWarning: false
    property var demoPeq: ({})
    // True while a write of a strip or a page runs: a message the client sends then is that
    // write's refusal.
    property bool writing: false

    readonly property bool live: deviceIndex === 0
    readonly property string deviceMode: devices[deviceIndex].mode
    readonly property real contentScale: width / 660
    readonly property string statusColor: proc.connected ? Palette.green
                                                         : searching || proc.busy ? Palette.amber
                                                         : wantsConnection ? Palette.red
                                                                           : Palette.grey
    readonly property string connectText: searching ? "搜索中" : proc.connected ? "断开" : proc.busy ? "连接中"
                                                                                                 : wantsConnection && hadLink
                                                                                                   && !userDisconnected ? "重连中" : "连接"

    // Resizing.
    property string dragMode
    property point dragStart
    property rect startGeometry

    function pressConnect() {
        if (proc.connected) {
            wantsConnection = false
            userDisconnected = true
            firstConnectAttempt = false
            proc.disconnectDevice()
            return
        }
        userDisconnected = false
        wantsConnection = true
        firstConnectAttempt = true
        if (manualMode) {
            const typed = addressField.input.text.trim()
            if (typed === "") {
                firstConnectAttempt = false
                addressField.input.forceActiveFocus()
                return
            }
            connectTo(typed)
        } else if (foundDevices.length > 1) {
            showDeviceMenu = true
        } else {
            autoSearch()
        }
    }

    function autoSearch() {
        if (manualMode || !wantsConnection || searching || proc.connected || userDisconnected
                || showDeviceMenu)
            return
        searching = true
        searchDelay.restart()
    }

    function doSearch() {
        if (proc.connected) {
            searching = false
            return
        }
        if (!manualMode && proc.ip !== "")
            proc.ip = ""
        proc.discoverDevicesAsync()
    }

    function handleDevicesFound(list) {
        searching = false
        foundDevices = list
        if (list.length === 1) {
            showDeviceMenu = false
            connectTo(list[0].ip)
        } else if (list.length > 1) {
            showDeviceMenu = true
        }
    }

    function connectTo(ip) {
        showDeviceMenu = false
        failedIp = ""
        lastIp = ip
        if (proc.connected)
            proc.disconnectDevice()
        proc.ip = ip
        proc.connectToDevice()
        connectCheck.restart()
    }

    function setManualMode(manual) {
        showDeviceMenu = false
        if (manual === manualMode)
            return
        manualMode = manual
        if (proc.connected) {
            wantsConnection = false
            userDisconnected = true
            firstConnectAttempt = false
            proc.disconnectDevice()
        }
        hadLink = false
    }

    function pickDevice(index) {
        deviceIndex = index
        page = "main"
    }

    function showPanelNote(text) {
        panelNote = text
        noteTimer.restart()
    }

    // A failure is shown as an error unless the converter asked for a quiet note; a success with
    // a warning shows the warning above the message.
    function showExportNote(result) {
        if (!result.ok) {
            exportNoteText = result.message
            exportNoteWarning = !result.quiet
        } else if (result.warning) {
            exportNoteText = result.warning + "\n" + result.message
            exportNoteWarning = true
        } else {
            exportNoteText = result.message
            exportNoteWarning = false
        }
        exportNoteTimer.interval = exportNoteWarning ? 24000 : 16000
        exportNoteTimer.restart()
    }

    // Runs one write of a strip or a page while connected, then has the control show what the
    // client holds (`reread`): a value the processor refused goes back to the processor's own.
    // Offline nothing is sent and the control keeps the edit.
    function runWrite(action, reread) {
        if (!proc.connected)
            return
        writing = true
        action()
        writing = false
        reread()
    }

    // A refused write is said under the strips, or over a page in the toast (the note under the
    // strips is hidden there).
    function tellRefusal(text) {
        if (page === "main")
            showPanelNote(text)
        else
            bridge.toast(text)
    }

    // The EQ of the current result as a thumbnail (48 points from 20 Hz to 20 kHz, 0 to 1): the
    // bands as bell shapes one octave-ish wide, scaled into at least 6 dB of span.
    function demoEqCurve() {
        return bridge.demoEqCurve()
    }

    function stripKey(isOut, idx) {
        return (isOut ? "o" : "i") + idx
    }

    function setDemoPeq(isOut, idx) {
        const copy = Object.assign({}, demoPeq)
        copy[stripKey(isOut, idx)] = demoEqCurve()
        demoPeq = copy
    }

    function clearDemoPeq(isOut, idx) {
        const copy = Object.assign({}, demoPeq)
        delete copy[stripKey(isOut, idx)]
        demoPeq = copy
    }

    function uploadEq(isOut, idx) {
        if (!proc.connected) {
            setDemoPeq(isOut, idx)
            showPanelNote("处理器不在线 · 本地演示模式，EQ 已显示在缩略窗")
            return
        }
        const result = bridge.uploadEqToOfficial(isOut, idx)
        if (result.ok)
            clearDemoPeq(isOut, idx)
        showPanelNote(result.message)
    }

    function channelModel(isOut) {
        return isOut ? proc.outputs : proc.inputs
    }

    function openEqPage(isOut, idx) {
        eqPage.isOut = isOut
        eqPage.chan = idx
        if (page === "eq")
            eqPage.loadChannel()
        page = "eq"
    }

    function openDynamics() {
        dynPage.loadChannel(0)
        page = "dyn"
    }

    function beginResize(mode, globalX, globalY) {
        dragMode = mode
        dragStart = Qt.point(globalX, globalY)
        startGeometry = Qt.rect(x, y, width, height)
    }

    // The width follows a horizontal drag and the height a vertical one; the height is then
    // recomputed from the width, and the edges opposite the dragged ones stay put.
    function updateResize(globalX, globalY) {
        const dx = globalX - dragStart.x
        const dy = globalY - dragStart.y
        const ratio = 792 / 620
        const left = dragMode.indexOf("l") >= 0
        const right = dragMode.indexOf("r") >= 0
        const top = dragMode.indexOf("t") >= 0
        const bottom = dragMode.indexOf("b") >= 0
        let w = startGeometry.width
        if (left || right)
            w = left ? startGeometry.width - dx : startGeometry.width + dx
        else if (top || bottom)
            w = (top ? startGeometry.height - dy : startGeometry.height + dy) * ratio
        w = Math.round(Math.max(minimumWidth, Math.min(maximumWidth, w)))
        const h = Math.round(Math.max(minimumHeight, Math.min(maximumHeight, w / ratio)))
        x = left ? startGeometry.x + startGeometry.width - w : startGeometry.x
        y = top ? startGeometry.y + startGeometry.height - h : startGeometry.y
        width = w
        height = h
    }

    width: 792
    height: 620
    minimumWidth: 660
    minimumHeight: 516
    maximumWidth: 1188
    maximumHeight: 932
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"
    title: "处理器"

    onVisibleChanged: {
        if (!visible)
            return
        requestActivate()
        if (wantsConnection && live && !proc.connected)
            autoSearch()
    }

    Connections {
        target: panel.proc
        function onDevicesFound(list) {
            panel.handleDevicesFound(list)
        }
        function onStateChanged() {
            if (panel.proc.connected) {
                panel.hadLink = true
                panel.userDisconnected = false
            } else {
                resetDialog.visible = false
            }
        }
        function onMessage(text, warning) {
            if (panel.firstConnectAttempt) {
                panel.firstConnectAttempt = false
                bridge.toast(text)
            } else if (panel.writing) {
                panel.tellRefusal(text)
            }
        }
        function onResetRequired() {
            resetDialog.visible = true
        }
        function onResetFinished() {
            resetDialog.visible = false
        }
    }

    Timer {
        id: searchDelay
        interval: 60
        onTriggered: panel.doSearch()
    }
    Timer {
        id: connectCheck
        objectName: "connectCheck"
        interval: 4000
        onTriggered: if (!panel.proc.connected)
                         panel.failedIp = panel.lastIp
    }
    Timer {
        objectName: "relinkTimer"
        interval: 5000
        repeat: true
        running: panel.wantsConnection && panel.live && panel.hadLink && !panel.proc.connected
                 && !panel.userDisconnected && panel.lastIp !== ""
        onTriggered: if (!panel.searching && !panel.proc.busy)
                         panel.connectTo(panel.lastIp)
    }
    Timer {
        id: noteTimer
        interval: 4200
        onTriggered: panel.panelNote = ""
    }
    Timer {
        id: exportNoteTimer
        onTriggered: panel.exportNoteText = ""
    }

    Item {
        id: content
        objectName: "content"
        width: 660
        height: 516
        scale: panel.contentScale
        transformOrigin: Item.TopLeft

        Rectangle {
            anchors.fill: parent
            radius: 10
            color: bridge.theme.bg
            border.width: 1
            border.color: bridge.theme.line25
        }

        // The title bar: dragging it moves the window.
        MouseArea {
            width: parent.width
            height: 48
            onPressed: panel.startSystemMove()
        }

        Row {
            objectName: "titleBar"
            x: 14
            height: 48
            spacing: 8

            Picker {
                objectName: "modePicker"
                visible: panel.live
                anchors.verticalCenter: parent.verticalCenter
                width: 104
                height: 26
                fontSize: 12
                menuFontSize: 13
                rowHeight: 28
                menuWidth: 130
                options: [{
                        "value": false,
                        "label": "自动搜索"
                    }, {
                        "value": true,
                        "label": "手动输入 IP"
                    }]
                value: panel.manualMode
                tip: "自动：点连接先搜索；手动：只连框里的 IP"
                onPicked: value => panel.setManualMode(value)
            }

            Item {
                visible: panel.live
                anchors.verticalCenter: parent.verticalCenter
                width: 150
                height: 26

                EntryField {
                    id: addressField
                    objectName: "addressField"
                    anchors.fill: parent
                    radius: 13
                    fontSize: 12
                    shown: panel.proc.ip
                    placeholder: panel.manualMode ? "请输入 IP" : "自动搜索"
                    readOnly: !panel.manualMode || panel.proc.connected || panel.proc.busy
                    onCommitted: text => {
                                     if (!readOnly)
                                     panel.proc.ip = text.trim()
                                 }
                }
                IconButton {
                    objectName: "menuCaret"
                    visible: !panel.manualMode && panel.foundDevices.length > 1
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    size: 24
                    inset: 5
                    bordered: false
                    icon: "s-caret"
                    onClicked: panel.showDeviceMenu = !panel.showDeviceMenu
                }
            }

            Rectangle {
                id: statusDot
                objectName: "statusDot"
                visible: panel.live
                anchors.verticalCenter: parent.verticalCenter
                width: 10
                height: 10
                radius: 5
                color: panel.statusColor
                readonly property bool pulsing: panel.wantsConnection && !panel.proc.connected
                onPulsingChanged: if (!pulsing)
                                      opacity = 1
                SequentialAnimation on opacity {
                    running: statusDot.pulsing
                    loops: Animation.Infinite
                    NumberAnimation {
                        from: 1
                        to: 0.35
                        duration: 600
                    }
                    NumberAnimation {
                        from: 0.35
                        to: 1
                        duration: 600
                    }
                }
            }

            PillButton {
                objectName: "connectButton"
                visible: panel.live
                anchors.verticalCenter: parent.verticalCenter
                width: 66
                height: 26
                fontSize: 12
                letterSpacing: 0.6
                primary: false
                text: panel.connectText
                onClicked: panel.pressConnect()
            }
        }

        Row {
            x: 660 - 14 - width
            height: 48
            spacing: 8

            Picker {
                objectName: "devicePicker"
                anchors.verticalCenter: parent.verticalCenter
                width: 128
                height: 26
                fontSize: 12
                menuFontSize: 13
                rowHeight: 28
                menuWidth: 170
                alignRight: true
                menuMaxHeight: 400
                options: panel.devices.map((device, index) => ({
                                                                    "value": index,
                                                                    "label": device.name + (device.mode === "unsupported" ? "（筹备中）" : ""),
                                                                    "short": device.name
                                                                }))
                value: panel.deviceIndex
                tip: "选择正在使用的处理器"
                onPicked: value => panel.pickDevice(value)
            }
            IconButton {
                objectName: "presetButton"
                visible: panel.live
                anchors.verticalCenter: parent.verticalCenter
                size: 30
                inset: 7
                icon: "s-stack"
                tip: "处理器预设管理"
                onClicked: panel.page = panel.page === "preset" ? "main" : "preset"
            }
            IconButton {
                objectName: "closeButton"
                anchors.verticalCenter: parent.verticalCenter
                size: 30
                inset: 8
                icon: "i-close"
                onClicked: panel.close()
            }
        }

        Item {
            id: mainPage
            objectName: "mainPage"
            y: 48
            width: 660
            height: 468
            visible: panel.page === "main"

            Item {
                visible: panel.deviceMode === "direct"
                anchors.fill: parent

                StripCard {
                    objectName: "inputCard"
                    x: 24
                    title: "输入"
                    isOut: false
                }
                // The dynamics entry on the divider between the cards.
                Rectangle {
                    objectName: "dynamicsTab"
                    x: 24 + 201 + 2
                    y: 150
                    width: 18
                    height: 48
                    radius: 6
                    color: dynArea.containsMouse ? bridge.theme.line06 : "transparent"
                    border.width: 1
                    border.color: bridge.theme.line25
                    Text {
                        anchors.centerIn: parent
                        text: "压\n限"
                        horizontalAlignment: Text.AlignHCenter
                        color: bridge.theme.text
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 11
                    }
                    MouseArea {
                        id: dynArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: panel.openDynamics()
                    }
                    HoverTip {
                        wanted: dynArea.containsMouse
                        text: "压缩 / 限幅"
                    }
                }
                StripCard {
                    objectName: "outputCard"
                    x: 24 + 201 + 22
                    title: "输出"
                    isOut: true
                }
            }

            ProcessorGuidePage {
                objectName: "guidePage"
                visible: panel.deviceMode === "tutorial"
                anchors.fill: parent
                target: panel.deviceIndex === 2 ? "nst" : "xta"
                deviceName: panel.devices[panel.deviceIndex].name
                noteText: panel.exportNoteText
                noteWarning: panel.exportNoteWarning
                onExported: result => panel.showExportNote(result)
            }

            ProcessorPlaceholderPage {
                objectName: "placeholderPage"
                visible: panel.deviceMode === "unsupported"
                anchors.fill: parent
                deviceName: panel.devices[panel.deviceIndex].name
            }
        }

        PresetPage {
            objectName: "presetPage"
            y: 48
            visible: panel.page === "preset"
            onBack: panel.page = "main"
        }
        EqPage {
            id: eqPage
            objectName: "eqPage"
            y: 48
            runWrite: panel.runWrite
            visible: panel.page === "eq"
            onBack: panel.page = "main"
        }
        CompLimiterPage {
            id: dynPage
            objectName: "dynPage"
            y: 48
            runWrite: panel.runWrite
            visible: panel.page === "dyn"
            onBack: panel.page = "main"
        }

        Text {
            objectName: "panelNote"
            x: 24
            y: 516 - 30
            width: 612
            height: 22
            verticalAlignment: Text.AlignVCenter
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            visible: panel.panelNote !== "" && panel.page === "main"
            text: panel.panelNote
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }

        // The menu of the devices the search found.
        Rectangle {
            objectName: "deviceMenu"
            visible: panel.showDeviceMenu && panel.live
            x: 14 + 104 + 8
            y: 44
            z: 50
            width: 230
            height: menuRows.height + 10
            radius: 10
            color: bridge.theme.cardSolid
            border.width: 1
            border.color: bridge.theme.line25

            Column {
                id: menuRows
                x: 5
                y: 5
                Repeater {
                    model: panel.foundDevices
                    Rectangle {
                        required property int index
                        required property var modelData
                        objectName: "deviceRow" + index
                        width: 220
                        height: 28
                        radius: 7
                        color: modelData.ip === panel.proc.ip || rowArea.containsMouse ? bridge.theme.line06 : "transparent"
                        Text {
                            objectName: "rowText"
                            x: 10
                            anchors.verticalCenter: parent.verticalCenter
                            text: "设备 " + (index + 1) + "  " + modelData.ip + (modelData.ip === panel.failedIp ? "  连接失败" : "")
                            color: modelData.ip === panel.failedIp ? Palette.red : bridge.theme.text
                            font.family: "Microsoft YaHei UI"
                            font.pixelSize: 12
                        }
                        MouseArea {
                            id: rowArea
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: panel.connectTo(modelData.ip)
                        }
                    }
                }
            }
        }

        // Asked for when the processor still holds settings in its old layout.
        Rectangle {
            id: resetDialog
            objectName: "resetDialog"
            anchors.fill: parent
            visible: false
            z: 100
            radius: 10
            color: Palette.black60

            MouseArea {
                anchors.fill: parent
            }
            Rectangle {
                anchors.centerIn: parent
                width: 360
                height: 170
                radius: 14
                color: bridge.theme.cardSolid
                border.width: 1
                border.color: bridge.theme.line25
                Text {
                    x: 20
                    y: 18
                    text: "设备需要重置"
                    color: bridge.theme.text
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 16
                    font.bold: true
                }
                Text {
                    x: 20
                    y: 50
                    width: 320
                    wrapMode: Text.WordWrap
                    text: "检测到设备使用旧的参数格式，与当前软件不兼容，需要重置设备。是否同意？"
                    color: bridge.theme.text70
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 13
                }
                Row {
                    anchors.right: parent.right
                    anchors.rightMargin: 20
                    y: 120
                    spacing: 10
                    PillButton {
                        objectName: "declineReset"
                        primary: false
                        width: 90
                        height: 32
                        fontSize: 13
                        letterSpacing: 0.6
                        text: "先不"
                        onClicked: {
                            resetDialog.visible = false
                            panel.proc.declineLegacyReset()
                        }
                    }
                    PillButton {
                        objectName: "agreeReset"
                        width: 110
                        height: 32
                        fontSize: 13
                        letterSpacing: 0.6
                        text: "同意重置"
                        onClicked: panel.proc.forceResetLegacyParams()
                    }
                }
            }
        }
    }

    component StripCard: Rectangle {
        id: card
        required property bool isOut
        property string title
        readonly property var channels: panel.channelModel(isOut)
        readonly property var levels: isOut ? panel.proc.levelsOut : panel.proc.levelsIn

        y: 8
        width: (isOut ? 8 : 4) * 47 - 3 + 16
        height: 396
        radius: 12
        color: bridge.theme.card
        border.width: 1
        border.color: bridge.theme.line25

        Text {
            x: 10
            y: 6
            text: card.title
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 11
        }
        Row {
            x: 8
            y: 30
            spacing: 3
            Repeater {
                model: card.isOut ? 8 : 4
                ChannelStrip {
                    required property int index
                    objectName: (card.isOut ? "out" : "in") + index
                    isOut: card.isOut
                    idx: index
                    channel: card.channels[index] || ({})
                    level: card.levels[index] || 0
                    connected: panel.proc.connected
                    demoCurve: panel.demoPeq[panel.stripKey(card.isOut, index)] || null
                    runWrite: panel.runWrite
                    onOpenEq: panel.openEqPage(card.isOut, index)
                    onUploadEq: panel.uploadEq(card.isOut, index)
                    onNeedConnection: bridge.toast("先连接处理器。")
                }
            }
        }
    }

    component ResizeHandle: MouseArea {
        required property string mode

        preventStealing: true
        onPressed: mouse => {
                       const at = mapToGlobal(mouse.x, mouse.y)
                       panel.beginResize(mode, at.x, at.y)
                   }
        onPositionChanged: mouse => {
                               if (!pressed)
                               return
                               const at = mapToGlobal(mouse.x, mouse.y)
                               panel.updateResize(at.x, at.y)
                           }
    }

    Item {
        objectName: "resizeLayer"
        anchors.fill: parent
        z: 10

        ResizeHandle {
            mode: "l"
            y: 14
            width: 7
            height: parent.height - 28
            cursorShape: Qt.SizeHorCursor
        }
        ResizeHandle {
            mode: "r"
            x: parent.width - width
            y: 14
            width: 7
            height: parent.height - 28
            cursorShape: Qt.SizeHorCursor
        }
        ResizeHandle {
            mode: "t"
            x: 14
            width: parent.width - 28
            height: 7
            cursorShape: Qt.SizeVerCursor
        }
        ResizeHandle {
            mode: "b"
            x: 14
            y: parent.height - height
            width: parent.width - 28
            height: 7
            cursorShape: Qt.SizeVerCursor
        }
        ResizeHandle {
            mode: "tl"
            width: 14
            height: 14
            cursorShape: Qt.SizeFDiagCursor
        }
        ResizeHandle {
            mode: "tr"
            x: parent.width - width
            width: 14
            height: 14
            cursorShape: Qt.SizeBDiagCursor
        }
        ResizeHandle {
            mode: "bl"
            y: parent.height - height
            width: 14
            height: 14
            cursorShape: Qt.SizeBDiagCursor
        }
        ResizeHandle {
            mode: "br"
            x: parent.width - width
            y: parent.height - height
            width: 14
            height: 14
            cursorShape: Qt.SizeFDiagCursor
        }
    }
}
