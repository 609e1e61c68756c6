import QtQuick
import QtQuick.Window
import Qt5Compat.GraphicalEffects

// The main window: a frameless portrait window holding the 600 x 1145 design stage scaled down
// to the window. It shows the page of the bridge's screen with an entry animation, lays the
// shared dialogs and the toast over it, blurs the page under the guides, resizes itself with
// the design's proportions from its own handles, carries the side tabs, docks the two side
// windows beside itself and runs the audio system check at start and every 20 s while idle.
Window {
    id: root

    readonly property real baseWidth: 600
    readonly property real baseHeight: 1145
    readonly property real uiScale: Math.min(1, width / baseWidth, height / baseHeight)
    property bool userSized: false
    property real startX
    property real startY
    property real startW
    property real startH
    property point dragGlobal
    property string dragMode

    function componentFor(name) {
        switch (name) {
        case "login":
        case "登录":
            return loginPage
        case "测量引导":
        case "点声源-测量引导":
        case "measure-guide":
            return micGuidePage
        case "measure":
        case "点声源-测量中":
            return measuringPage
        case "线阵列-测量中":
            return arrayMeasuringPage
        case "compute":
        case "点声源-计算":
            return computePage
        case "use":
        case "点声源-选用途":
        case "点声源-方案说明":
            return usePage
        case "delivery":
        case "点声源-交付与复测":
            return deliveryPage
        case "settings":
        case "设置":
            return settingsPage
        case "补声对齐":
            return fillAlignPage
        case "超低分频对齐":
        case "超低分频-测量":
        case "超低分频-结果":
        case "超低分频-对齐":
            return subXoverPage
        default:
            return homePage
        }
    }

    function openSystemCheck() {
        systemCheck.showDialog()
    }

    // Where a side window of width w docks: 12 px right of this window, kept 8 px inside the
    // screen.
    function panelDockX(w) {
        let x = root.x + root.width + 12
        if (Screen.width > 0)
            x = Math.max(Screen.virtualX + 8, Math.min(x, Screen.virtualX + Screen.width - 8 - w))
        return Math.round(x)
    }

    // Where a side window of height h docks: bottoms aligned, kept 8 px inside the screen.
    function panelDockY(h) {
        let y = root.y + root.height - h
        if (Screen.height > 0)
            y = Math.max(Screen.virtualY + 8, Math.min(y, Screen.virtualY + Screen.height - 8 - h))
        return Math.round(y)
    }

    // A rectangle of the screen (global coordinates) in the stage's coordinates.
    function stageRect(x, y, w, h) {
        const left = baseWidth / 2 + (x - root.x - root.width / 2) / uiScale
        const top = baseHeight / 2 + (y - root.y - root.height / 2) / uiScale
        return Qt.rect(left, top, w / uiScale, h / uiScale)
    }

    function beginResize(mode, globalX, globalY) {
        dragMode = mode
        dragGlobal = Qt.point(globalX, globalY)
        startX = root.x
        startY = root.y
        startW = root.width
        startH = root.height
    }

    // One step of a resize drag: the dragged edges follow the pointer, the window keeps the
    // design's proportions and its size limits, does not grow past the screen's available area,
    // and the edges opposite the dragged ones stay put.
    function updateResize(globalX, globalY) {
        const dx = globalX - dragGlobal.x
        const dy = globalY - dragGlobal.y
        const ratio = baseWidth / baseHeight
        const left = dragMode.indexOf("l") >= 0
        const right = dragMode.indexOf("r") >= 0
        const top = dragMode.indexOf("t") >= 0
        const bottom = dragMode.indexOf("b") >= 0
        const minW = 340
        const minH = Math.max(649, minW / ratio)
        let maxW = baseWidth
        let maxH = baseHeight
        const availableW = Screen.desktopAvailableWidth
        const availableH = Screen.desktopAvailableHeight
        const vx = Screen.virtualX
        const vy = Screen.virtualY
        if (availableW > 0 && availableH > 0 && isFinite(vx) && isFinite(vy)) {
            const usableW = right ? vx + availableW - startX : left ? startX + startW - vx : maxW
            const usableH = bottom ? vy + availableH - startY : top ? startY + startH - vy : maxH
            if (isFinite(usableW))
                maxW = Math.min(maxW, Math.max(minW, usableW))
            if (isFinite(usableH))
                maxH = Math.min(maxH, Math.max(minH, usableH))
        }

        let nw = startW
        let nh = startH
        if (left || right) {
            nw = left ? startW - dx : startW + dx
            nh = nw / ratio
        }
        if (top || bottom) {
            const draggedH = top ? startH - dy : startH + dy
            if (!(left || right)) {
                nh = draggedH
                nw = nh * ratio
            } else if (Math.abs(draggedH - startH) / Math.max(1, startH)
                       > Math.abs(nw - startW) / Math.max(1, startW)) {
                nw = draggedH * ratio
            } else {
                nh = nw / ratio
            }
        }

        nw = Math.max(minW, Math.min(maxW, nw))
        nh = nw / ratio
        if (nh > maxH) {
            nh = maxH
            nw = nh * ratio
        }
        if (nh < minH) {
            nh = minH
            nw = nh * ratio
        }
        nw = Math.max(minW, Math.min(maxW, nw))
        nh = nw / ratio

        root.x = left ? startX + startW - nw : startX
        root.y = top ? startY + startH - nh : startY
        root.width = nw
        root.height = nh
        userSized = true
    }

    // The entry of a page: fade in and slide from 12 px to the right; replayed on every screen
    // change, also when the page stays.
    function enterPage() {
        const page = pageLoader.item
        if (!page)
            return
        if ("cornerRadius" in page)
            page.cornerRadius = 0
        pageEntry.stop()
        page.opacity = 0
        page.x = 12
        pageFade.target = page
        pageSlide.target = page
        pageEntry.start()
    }

    width: 600
    height: 1145
    minimumWidth: 340
    minimumHeight: 649
    maximumWidth: 600
    maximumHeight: 1145
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"
    title: "测量工作流"
    visible: true

    Component.onCompleted: bridge.runSystemCheck()

    UiMotion {
        id: motion
    }

    Component {
        id: loginPage
        LoginScreen {
            objectName: "LoginScreen"
        }
    }
    Component {
        id: homePage
        HomeScreen {
            objectName: "HomeScreen"
        }
    }
    Component {
        id: micGuidePage
        MicGuideScreen {
            objectName: "MicGuideScreen"
        }
    }
    Component {
        id: measuringPage
        MeasuringScreen {
            objectName: "MeasuringScreen"
        }
    }
    Component {
        id: arrayMeasuringPage
        ArrayMeasuringScreen {
            objectName: "ArrayMeasuringScreen"
        }
    }
    Component {
        id: computePage
        ComputeScreen {
            objectName: "ComputeScreen"
        }
    }
    Component {
        id: usePage
        UseScreen {
            objectName: "UseScreen"
        }
    }
    Component {
        id: deliveryPage
        DeliveryScreen {
            objectName: "DeliveryScreen"
        }
    }
    Component {
        id: settingsPage
        SettingsScreen {
            objectName: "SettingsScreen"
        }
    }
    Component {
        id: fillAlignPage
        FillAlignScreen {
            objectName: "FillAlignScreen"
        }
    }
    Component {
        id: subXoverPage
        SubXoverScreen {
            objectName: "SubXoverScreen"
        }
    }

    ParallelAnimation {
        id: pageEntry
        NumberAnimation {
            id: pageFade
            property: "opacity"
            from: 0
            to: 1
            duration: motion.pageFade
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            id: pageSlide
            property: "x"
            from: 12
            to: 0
            duration: motion.pageSlide
            easing.type: Easing.OutCubic
        }
    }

    Connections {
        target: bridge
        function onScreenChanged() {
            root.enterPage()
        }
    }

    // No check competes with a measurement for the audio devices.
    Timer {
        objectName: "systemCheckTimer"
        interval: 20000
        repeat: true
        running: !bridge.measuring
        onTriggered: bridge.runSystemCheck()
    }

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Item {
        id: stage
        objectName: "stage"
        width: root.baseWidth
        height: root.baseHeight
        // Centred exactly (anchors would round an odd height's half), so that the scale about
        // the centre fills the window.
        x: (root.width - width) / 2
        y: (root.height - height) / 2
        scale: root.uiScale

        Rectangle {
            anchors.fill: parent
            color: bridge.theme.bg
        }

        // The page, blurred (and only then rendered through a layer) under the guides.
        Item {
            objectName: "pageWrapper"
            anchors.fill: parent
            layer.enabled: bridge.micGuideOpen || bridge.planDetailOpen
            layer.effect: FastBlur {
                radius: 0.55 * 64
            }

            Loader {
                id: pageLoader
                objectName: "pageLoader"
                anchors.fill: parent
                sourceComponent: root.componentFor(bridge.screen)
                onLoaded: root.enterPage()
            }
        }

        MouseArea {
            objectName: "dragStrip"
            width: parent.width
            height: 22
            onPressed: root.startSystemMove()
        }

        SystemCheckDialog {
            id: systemCheck
            objectName: "systemCheckDialog"
        }
        UpdateDialog {
            objectName: "updateDialog"
        }
        MicGuideDialog {
            objectName: "micGuideDialog"
        }
        PlanDetailDialog {
            objectName: "planDetailDialog"
        }
        // Shown on every screen: the subwoofer flow reports its failures only here. There it
        // stands above the footer rule (y 1038), clear of the button row below it.
        // The side windows' placement may put them over this window (at the screen's edge):
        // the toast then stands where it can be read.
        Toast {
            objectName: "toast"
            bottomMargin: bridge.screen.startsWith("超低分频") ? root.baseHeight - 1038 + 12 : 71
            covers: [processorPanel, curveWindow].filter(side => side.visible).map(
                        side => root.stageRect(side.x, side.y, side.width, side.height))
        }
    }

    component ResizeHandle: MouseArea {
        required property string mode

        hoverEnabled: true
        preventStealing: true
        onPressed: mouse => {
                       const at = mapToGlobal(mouse.x, mouse.y)
                       root.beginResize(mode, at.x, at.y)
                   }
        onPositionChanged: mouse => {
                               if (!pressed)
                                   return
                               const at = mapToGlobal(mouse.x, mouse.y)
                               root.updateResize(at.x, at.y)
                           }
    }

    Item {
        objectName: "resizeLayer"
        anchors.fill: parent

        ResizeHandle {
            mode: "l"
            width: 7
            height: parent.height
            cursorShape: Qt.SizeHorCursor
        }
        ResizeHandle {
            mode: "r"
            x: parent.width - width
            width: 7
            height: parent.height
            cursorShape: Qt.SizeHorCursor
        }
        ResizeHandle {
            mode: "t"
            width: parent.width
            height: 7
            cursorShape: Qt.SizeVerCursor
        }
        ResizeHandle {
            mode: "b"
            y: parent.height - height
            width: parent.width
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

    Column {
        id: sideTabs
        objectName: "sideTabs"
        z: 40
        anchors.right: parent.right
        y: 76 * root.uiScale
        spacing: 8
        visible: !bridge.fillMicGuideOpen && bridge.screen !== "登录" && bridge.screen !== "login"
        transform: Scale {
            origin.x: sideTabs.width
            xScale: root.uiScale
            yScale: root.uiScale
        }

        SideTab {
            objectName: "projectTab"
            anchors.right: parent.right
            width: bridge.curveWindowOpen ? 40 : 35
            height: 76
            label: "工\n程"
            active: bridge.curveWindowOpen
            onClicked: bridge.curveWindowOpen = !bridge.curveWindowOpen
        }
        SideTab {
            objectName: "serverTab"
            anchors.right: parent.right
            width: 35
            height: 108
            label: "测\n量\n服\n务\n器"
            onClicked: bridge.toast("测量服务器 还没开放")
        }
        SideTab {
            objectName: "processorTab"
            anchors.right: parent.right
            width: bridge.processorPanelOpen ? 40 : 35
            height: 76
            label: "处\n理\n器"
            active: bridge.processorPanelOpen
            onClicked: bridge.processorPanelOpen = !bridge.processorPanelOpen
        }
    }

    // The side windows. The panel follows this window through its bindings; the curve window
    // starts docked and, once built, places itself whenever it is shown.
    ProcessorPanel {
        id: processorPanel
        objectName: "processorPanel"
        transientParent: root
        visible: bridge.processorPanelOpen
        x: root.panelDockX(width)
        y: root.panelDockY(height)
        onVisibleChanged: if (!visible && bridge.processorPanelOpen)
                              bridge.processorPanelOpen = false
    }
    CurveWindow {
        id: curveWindow
        objectName: "curveWindow"
        transientParent: root
        uiScale: root.uiScale
        visible: bridge.curveWindowOpen
        x: root.panelDockX(width)
        y: root.panelDockY(height)
        onVisibleChanged: if (!visible && bridge.curveWindowOpen)
                              bridge.curveWindowOpen = false
    }
}
