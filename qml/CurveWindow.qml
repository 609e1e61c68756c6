import QtQuick
import QtQuick.Window
import Sonetra

// "工程管理": projects and their curve packs beside the main window. The engineer browses and
// searches the tree, opens a pack's phase and magnitude curves, exports or deletes a pack,
// creates and deletes projects and drags packs between them. Everything shown comes from the
// bridge; the window keeps only its selection, its expanded projects and its geometry.
Window {
    id: window

    property real uiScale: 1
    property real sideWidth: 208
    property var expandedProjects: []
    property bool rootExpanded: true
    property string query: ""
    property var currentPack: ({})
    property int currentPackIndex: -1
    // Set when the engineer deleted the selected pack: nothing is selected again until a pack is
    // picked or the window is shown anew, so a second click on delete cannot take the next pack.
    property bool selectionDeleted: false
    property bool showProjectCoherence: true
    property size preferredSize: Qt.size(702, 580)
    // The tree of projects and packs: the bridge's, shown as this window expands and searches it.
    readonly property var tree: bridge.packTree

    // The screen as the placement sees it: its virtual origin, width and available height.
    function screenArea() {
        return {x: Screen.virtualX, y: Screen.virtualY, width: Screen.width,
                height: Screen.desktopAvailableHeight}
    }

    // Beside the main window: to its right when 660 px fit there, else to its left, else at the
    // screen's right edge; bottoms aligned and kept 10 px inside the screen. Without a main
    // window at the screen's bottom right corner.
    function placement(main, screen, preferred) {
        return WindowRules.curveWindowPlacement(main, screen, preferred, minimumHeight)
    }

    // Assigned outright: this replaces whatever position the creator bound, so between two
    // showings the window stays where it was put and does not follow the main window.
    function snapToMain() {
        const place = placement(transientParent, screenArea(), preferredSize)
        x = place.x
        y = place.y
        width = place.width
        height = place.height
    }

    function readPreferredSize() {
        const saved = bridge.windowState("curve")
        if (saved.width > 0)
            preferredSize = Qt.size(saved.width, saved.height)
    }

    function saveGeometry() {
        bridge.saveWindowState("curve", x, y, width, height)
    }

    function shown() {
        selectionDeleted = false
        readPreferredSize()
        snapToMain()
        // Once more after the system has positioned the new window.
        secondPlacement.restart()
        // What changed while hidden is shown now: the changes were not followed meanwhile.
        if (refreshSelection())
            loadDetail()
        raise()
        requestActivate()
    }

    function pickPack(pack) {
        selectionDeleted = false
        currentPackIndex = pack.index
        currentPack = pack
        bridge.curveIndex = pack.index
        packView.resetPhase()
        loadDetail()
        // The subwoofer flow decides whether it takes this pack as its main reference.
        bridge.subTrySetMainFromPack(pack.index)
    }

    function loadDetail() {
        if (currentPackIndex < 0)
            return
        const detail = bridge.curvePackDetail(currentPackIndex)
        if (detail.name)
            currentPack = detail
    }

    function clearSelection() {
        currentPackIndex = -1
        currentPack = {}
    }

    // The selection goes first, so that the refresh the deletion brings selects nothing. Only the
    // pack shown is deleted: where the list holds another at its place now, the window shows
    // what it holds instead.
    function deleteSelectedPack() {
        const index = currentPackIndex
        if (tree.packAt(index).name !== currentPack.name) {
            if (refreshSelection())
                loadDetail()
            return
        }
        selectionDeleted = true
        clearSelection()
        bridge.deleteCurvePack(index)
    }

    function pickIfFound(pack) {
        if (pack.name !== undefined)
            pickPack(pack)
    }

    function selectPackByName(name) {
        pickIfFound(tree.packNamed(name))
    }

    function selectLastPack() {
        pickIfFound(tree.latestPack())
    }

    function expandProject(name) {
        if (name !== "" && expandedProjects.indexOf(name) < 0)
            expandedProjects = expandedProjects.concat([name])
    }

    // Keeps a selected pack found again at its index with its name (and says so), else selects
    // the newest (none after the selected pack was deleted).
    function refreshSelection() {
        expandProject(bridge.projectName)
        if (expandedProjects.length === 0)
            expandProject(tree.firstProject())
        const same = tree.packAt(currentPackIndex)
        if (same.name !== undefined && same.name === currentPack.name)
            return true
        clearSelection()
        if (!selectionDeleted)
            selectLastPack()
        return false
    }

    function toggleProject(name) {
        const at = expandedProjects.indexOf(name)
        expandedProjects = at < 0 ? expandedProjects.concat([name])
                                  : expandedProjects.filter(n => n !== name)
    }

    function openNewDialog() {
        dialogs.openNewProject()
    }

    // The menu of the project at that position, beside its row.
    function showProjectMenu(position) {
        dialogs.openMenu(position, side.mapToItem(surface, 0, side.projectRowY(position)).y)
    }

    function closeDialog() {
        dialogs.closeAll()
    }

    function closeProjectMenu() {
        dialogs.closeMenu()
    }

    // The side panel stays open in this window; kept for callers that ask.
    function setSideOpen(value) {}

    title: "工程管理"
    width: 720
    height: 680
    minimumWidth: 660
    minimumHeight: 580
    maximumWidth: Screen.desktopAvailableWidth <= 100
                  ? 1180 : Math.max(minimumWidth, Math.min(1180, Screen.desktopAvailableWidth - 40))
    maximumHeight: Screen.desktopAvailableWidth <= 100
                   ? 980 : Math.max(minimumHeight, Math.min(980, Screen.desktopAvailableHeight - 40))
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"

    Component.onCompleted: if (visible) shown()
    onVisibleChanged: {
        if (visible) {
            shown()
        } else {
            // Saved here, once: a save still pending would write the hidden window's geometry
            // later, over whatever was stored meanwhile.
            secondPlacement.stop()
            geometrySave.stop()
            saveGeometry()
        }
    }
    // Late size reports of the window system also come in while it is hidden: only a shown
    // window's size is the user's.
    onWidthChanged: if (visible) geometrySave.restart()
    onHeightChanged: if (visible) geometrySave.restart()

    Binding {
        target: window.tree
        property: "expandedProjects"
        value: window.expandedProjects
    }
    Binding {
        target: window.tree
        property: "rootExpanded"
        value: window.rootExpanded
    }
    Binding {
        target: window.tree
        property: "query"
        value: window.query
    }

    // Followed while shown; shown() catches up with what changed while hidden.
    Connections {
        target: bridge
        function onProjectsChanged() {
            if (window.visible)
                window.refreshSelection()
        }
        function onCurvePacksChanged() {
            if (!window.visible)
                return
            window.refreshSelection()
            window.loadDetail()
        }
        function onSmoothingChanged() {
            if (window.visible)
                window.loadDetail()
        }
    }

    Timer {
        id: secondPlacement
        interval: 120
        onTriggered: window.snapToMain()
    }

    // Saves once a resize has settled, not on every step of a drag.
    Timer {
        id: geometrySave
        objectName: "geometrySave"
        interval: 600
        onTriggered: window.saveGeometry()
    }

    Rectangle {
        id: surface
        anchors.fill: parent
        radius: 8
        color: bridge.theme.bg
        border.width: 1
        border.color: bridge.theme.line25
        clip: true

        GlowField {
            x: 1
            y: 48
            width: parent.width - 2
            height: parent.height - 49
            glowColor: bridge.theme.glow
            centerX: 0.5
            centerY: 0.5
            radiusX: 0.78
            radiusY: 0.72
            alphaCenter: 0.42
            alphaMid: 0.28
            alphaOuter: 0.07
            alphaTail: 0.02
        }

        Item {
            id: titleBar
            width: parent.width
            height: 48

            MouseArea {
                anchors.fill: parent
                onPressed: window.startSystemMove()
            }

            Text {
                x: 18
                anchors.verticalCenter: parent.verticalCenter
                text: "工程管理"
                color: bridge.theme.text
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 16
                font.bold: true
            }

            IconButton {
                objectName: "closeCurveWindow"
                anchors.right: parent.right
                anchors.rightMargin: 12 * window.uiScale
                anchors.verticalCenter: parent.verticalCenter
                size: Math.round(32 * window.uiScale)
                inset: Math.round(6 * window.uiScale)
                icon: "i-close"
                onClicked: bridge.curveWindowOpen = false
            }
        }

        CurveSidePanel {
            id: side
            objectName: "curveSidePanel"
            y: titleBar.height
            width: window.sideWidth
            height: parent.height - titleBar.height
            packTree: window.tree
            currentIndex: window.currentPackIndex
            onQueryEdited: text => window.query = text
            onPackPicked: index => window.pickPack(window.tree.packAt(index))
            onProjectToggled: name => window.toggleProject(name)
            onRootToggled: window.rootExpanded = !window.rootExpanded
            onProjectMenuRequested: (position, rowY) => dialogs.openMenu(
                                        position, side.mapToItem(surface, 0, rowY).y)
            onNewProjectRequested: dialogs.openNewProject()
        }

        // The divider between the panel and the charts: drags the panel's width.
        MouseArea {
            id: divider
            objectName: "sideDivider"
            x: window.sideWidth - 3
            y: titleBar.height
            width: 7
            height: parent.height - titleBar.height
            hoverEnabled: true
            cursorShape: Qt.SplitHCursor
            preventStealing: true
            onPositionChanged: mouse => {
                                   if (pressed)
                                       window.sideWidth = Math.max(160, Math.min(
                                               300, mapToItem(surface, mouse.x, 0).x))
                               }

            Rectangle {
                x: 3
                width: 1
                height: parent.height
                color: divider.containsMouse || divider.pressed ? bridge.theme.line25
                                                                : bridge.theme.line06
            }
        }

        CurvePackView {
            id: packView
            objectName: "curvePackView"
            x: window.sideWidth + 4
            y: titleBar.height
            width: parent.width - x
            height: parent.height - titleBar.height
            pack: window.currentPack
            packIndex: window.currentPackIndex
            showCoherence: window.showProjectCoherence
            onCoherenceToggled: window.showProjectCoherence = !window.showProjectCoherence
            onDeleteClicked: window.deleteSelectedPack()
        }

        CurveProjectDialogs {
            id: dialogs
            anchors.fill: parent
            onProjectDeleted: {
                window.clearSelection()
                window.refreshSelection()
            }
            onProjectCreated: name => {
                                  window.expandProject(name)
                                  window.clearSelection()
                                  window.refreshSelection()
                              }
        }
    }

    // Resizing from 6-px edge strips and 12-px corner squares; a left or top edge keeps the
    // opposite edge where it was.
    component EdgeGrip: MouseArea {
        required property string edges
        property point pressAt
        property rect pressGeometry

        preventStealing: true
        onPressed: mouse => {
                       pressAt = mapToGlobal(mouse.x, mouse.y)
                       pressGeometry = Qt.rect(window.x, window.y, window.width, window.height)
                   }
        onPositionChanged: mouse => {
                               if (!pressed)
                                   return
                               const at = mapToGlobal(mouse.x, mouse.y)
                               const g = pressGeometry
                               if (edges.indexOf("r") >= 0)
                                   window.width = clampW(g.width + at.x - pressAt.x)
                               if (edges.indexOf("b") >= 0)
                                   window.height = clampH(g.height + at.y - pressAt.y)
                               if (edges.indexOf("l") >= 0) {
                                   window.width = clampW(g.width - (at.x - pressAt.x))
                                   window.x = g.x + g.width - window.width
                               }
                               if (edges.indexOf("t") >= 0) {
                                   window.height = clampH(g.height - (at.y - pressAt.y))
                                   window.y = g.y + g.height - window.height
                               }
                           }

        function clampW(w) {
            return Math.round(Math.max(window.minimumWidth, Math.min(window.maximumWidth, w)))
        }
        function clampH(h) {
            return Math.round(Math.max(window.minimumHeight, Math.min(window.maximumHeight, h)))
        }
    }

    Item {
        objectName: "edgeGrips"
        anchors.fill: parent
        z: 10

        EdgeGrip {
            edges: "l"
            y: 12
            width: 6
            height: parent.height - 24
            cursorShape: Qt.SizeHorCursor
        }
        EdgeGrip {
            edges: "r"
            x: parent.width - 6
            y: 12
            width: 6
            height: parent.height - 24
            cursorShape: Qt.SizeHorCursor
        }
        EdgeGrip {
            edges: "t"
            x: 12
            width: parent.width - 24
            height: 6
            cursorShape: Qt.SizeVerCursor
        }
        EdgeGrip {
            edges: "b"
            objectName: "bottomGrip"
            x: 12
            y: parent.height - 6
            width: parent.width - 24
            height: 6
            cursorShape: Qt.SizeVerCursor
        }
        EdgeGrip {
            edges: "tl"
            width: 12
            height: 12
            cursorShape: Qt.SizeFDiagCursor
        }
        EdgeGrip {
            edges: "tr"
            x: parent.width - 12
            width: 12
            height: 12
            cursorShape: Qt.SizeBDiagCursor
        }
        EdgeGrip {
            edges: "bl"
            y: parent.height - 12
            width: 12
            height: 12
            cursorShape: Qt.SizeBDiagCursor
        }
        EdgeGrip {
            edges: "br"
            objectName: "cornerGrip"
            x: parent.width - 12
            y: parent.height - 12
            width: 12
            height: 12
            cursorShape: Qt.SizeFDiagCursor
        }
    }
}
