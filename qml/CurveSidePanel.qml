import QtQuick
import QtQuick.Controls
import "Palette.js" as Palette

// The curve window's side panel: the heading with "新建工程", the search field and the tree of
// projects and packs (the bridge's PackTree, whose rows change one by one, so the delegates of
// the rows that stay are kept). A pack is moved by dragging its handle onto another row; the
// bridge moves it and the tree follows its change signals.
Item {
    id: panel

    property var packTree: null
    property int currentIndex: -1
    // The drag of a pack: its index (-1 while idle), the row under the pointer, the pointer, the
    // label, and the list edge it is near (-1 top, 1 bottom, 0 none).
    property int dragSource: -1
    property int dropRow: -1
    property point dragPoint
    property string dragLabel
    property int dragEdge: 0

    signal queryEdited(string text)
    signal packPicked(int index)
    signal projectToggled(string name)
    signal rootToggled
    signal projectMenuRequested(int position, real rowY)
    signal newProjectRequested

    function rowAt(x, y) {
        if (x < 0 || y < 0 || x >= tree.width || y >= tree.height)
            return -1
        return tree.indexAt(x + tree.contentX, y + tree.contentY)
    }

    // The top of the row of the project at that position, in the panel; 0 when it is not shown.
    function projectRowY(position) {
        const rows = tree.contentItem.children
        for (let i = 0; i < rows.length; ++i) {
            if (rows[i].objectName === "projectHeader" + position)
                return rows[i].mapToItem(panel, 0, 0).y
        }
        return 0
    }

    function dragTo(x, y) {
        dragPoint = Qt.point(x, y)
        dropRow = rowAt(x, y)
        dragEdge = y >= 0 && y < 26 ? -1 : y <= tree.height && y > tree.height - 26 ? 1 : 0
    }

    function endDrag(drop) {
        const target = drop ? packTree.dropTarget(dropRow) : {}
        const from = dragSource
        dragSource = -1
        dropRow = -1
        dragEdge = 0
        if (target.project !== undefined)
            bridge.movePack(from, target.before, target.project)
    }

    Text {
        x: 14
        y: 8
        height: 36
        verticalAlignment: Text.AlignVCenter
        text: "工程"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.bold: true
    }

    Rectangle {
        objectName: "newProjectButton"
        anchors.right: parent.right
        anchors.rightMargin: 12
        y: 12
        width: 92
        height: 28
        radius: 14
        color: newArea.containsMouse ? Palette.brandBlueHover : bridge.theme.blue

        Row {
            anchors.centerIn: parent
            spacing: 4

            UiImage {
                anchors.verticalCenter: parent.verticalCenter
                width: 14
                height: 14
                source: "qrc:/icons/s-plus.svg"
                tint: Palette.white
            }
            Text {
                text: "新建工程"
                color: Palette.white
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
            }
        }

        MouseArea {
            id: newArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: panel.newProjectRequested()
        }
    }

    Rectangle {
        x: 12
        y: 52
        width: parent.width - 24
        height: 30
        radius: 15
        color: bridge.theme.line06
        border.width: 1
        border.color: search.activeFocus ? bridge.theme.glow : "transparent"

        UiImage {
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 14
            height: 14
            source: "qrc:/icons/s-search.svg"
            tint: bridge.theme.text50
        }

        TextInput {
            id: search
            objectName: "searchField"
            x: 30
            width: parent.width - 40
            anchors.verticalCenter: parent.verticalCenter
            clip: true
            color: bridge.theme.text
            selectByMouse: true
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
            onTextChanged: panel.queryEdited(text)
            Keys.onEscapePressed: text = ""

            Text {
                visible: search.text === ""
                text: "搜索"
                color: bridge.theme.text50
                font: search.font
            }
        }
    }

    ListView {
        id: tree
        objectName: "curveTree"
        x: 6
        y: 92
        width: parent.width - 12
        height: parent.height - y - 8
        clip: true
        spacing: 1
        boundsBehavior: Flickable.StopAtBounds
        interactive: panel.dragSource < 0
        model: panel.packTree
        ScrollBar.vertical: ScrollBar {
            policy: ScrollBar.AsNeeded
        }

        delegate: Item {
            id: row
            required property int index
            required property string kind
            required property string name
            required property int position
            required property bool expanded
            required property int packIndex
            readonly property bool isPack: kind === "pack"
            readonly property bool selected: isPack && packIndex === panel.currentIndex

            objectName: kind === "root" ? "projectHeaderRoot"
                        : kind === "project" ? "projectHeader" + position : "packRow" + packIndex
            width: ListView.view.width
            height: isPack ? 30 : 34

            Rectangle {
                anchors.fill: parent
                anchors.leftMargin: row.isPack ? 18 : 0
                radius: 6
                color: row.selected ? bridge.theme.blue
                                    : rowArea.containsMouse ? bridge.theme.line06 : "transparent"
            }

            Rectangle {
                objectName: "dropLine"
                visible: panel.dragSource >= 0 && panel.dropRow === row.index
                width: parent.width
                height: 2
                color: bridge.theme.blue
            }

            UiImage {
                visible: !row.isPack
                x: 4
                anchors.verticalCenter: parent.verticalCenter
                width: 14
                height: 14
                rotation: row.expanded ? 0 : -90
                source: "qrc:/icons/s-caret.svg"
                tint: bridge.theme.text70
            }
            UiImage {
                visible: !row.isPack
                x: 22
                anchors.verticalCenter: parent.verticalCenter
                width: 16
                height: 16
                source: "qrc:/icons/s-snt-project.svg"
                tint: bridge.theme.text70
            }
            Item {
                objectName: row.isPack ? "packHandle" + row.packIndex : ""
                visible: row.isPack
                x: 18
                anchors.verticalCenter: parent.verticalCenter
                width: 18
                height: 26

                UiImage {
                    anchors.centerIn: parent
                    width: 12
                    height: 12
                    source: "qrc:/icons/s-list.svg"
                    tint: row.selected ? Palette.white : bridge.theme.text50
                }
            }
            Text {
                x: row.isPack ? 40 : 44
                width: parent.width - x - 8
                anchors.verticalCenter: parent.verticalCenter
                text: row.name
                elide: Text.ElideRight
                color: row.selected ? Palette.white : bridge.theme.text
                font.family: "Microsoft YaHei UI"
                font.pixelSize: row.isPack ? 13 : 14
                font.bold: row.kind === "project"
            }

            MouseArea {
                id: rowArea
                anchors.fill: parent
                anchors.leftMargin: row.isPack ? 36 : 0
                hoverEnabled: true
                acceptedButtons: Qt.LeftButton | Qt.RightButton
                onClicked: mouse => {
                               if (row.isPack) {
                                   if (mouse.button === Qt.LeftButton)
                                       panel.packPicked(row.packIndex)
                               } else if (mouse.button === Qt.RightButton) {
                                   if (row.kind === "project")
                                       panel.projectMenuRequested(row.position,
                                                                  row.mapToItem(panel, 0, 0).y)
                               } else if (row.kind === "root") {
                                   panel.rootToggled()
                               } else {
                                   panel.projectToggled(row.name)
                               }
                           }
            }
        }
    }

    // Takes a press on a pack's handle (and lets every other press through to the rows) and
    // follows that drag over the list.
    MouseArea {
        objectName: "dragArea"
        anchors.fill: tree
        preventStealing: true
        onPressed: mouse => {
                       const at = tree.indexAt(mouse.x + tree.contentX, mouse.y + tree.contentY)
                       const row = at >= 0 ? tree.itemAtIndex(at) : null
                       if (!row || !row.isPack || mouse.x < 18 || mouse.x >= 36) {
                           mouse.accepted = false
                           return
                       }
                       panel.dragLabel = row.name
                       panel.dragSource = row.packIndex
                       panel.dragTo(mouse.x, mouse.y)
                   }
        onPositionChanged: mouse => panel.dragTo(mouse.x, mouse.y)
        onReleased: panel.endDrag(true)
        onCanceled: panel.endDrag(false)
    }

    // While a drag is near the list's top or bottom edge the list scrolls along.
    Timer {
        interval: 30
        repeat: true
        running: panel.dragSource >= 0 && panel.dragEdge !== 0
        onTriggered: {
            const end = Math.max(0, tree.contentHeight - tree.height)
            tree.contentY = Math.max(0, Math.min(end, tree.contentY + 12 * panel.dragEdge))
            panel.dropRow = panel.rowAt(panel.dragPoint.x, panel.dragPoint.y)
        }
    }

    Rectangle {
        objectName: "dragLabel"
        visible: panel.dragSource >= 0
        x: tree.x + panel.dragPoint.x + 12
        y: tree.y + panel.dragPoint.y + 4
        z: 5
        width: dragText.implicitWidth + 20
        height: 26
        radius: 8
        color: bridge.theme.cardSolid
        border.width: 1
        border.color: bridge.theme.line25

        Text {
            id: dragText
            anchors.centerIn: parent
            text: panel.dragLabel
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
    }
}
