import QtQuick
import QtQuick.Controls
import "Palette.js" as Palette

// A compact choice: shows the current option and opens a menu of all options below (or above)
// itself. Picking a row emits picked(value); the owner decides whether `value` changes.
Item {
    id: picker

    property var options: []
    property var value
    property string suffix
    property color fg: bridge.theme.text
    property int fontSize: 14
    property real menuWidth: 158
    property real cornerRadius: height / 2
    property bool alignRight: false
    property bool openUp: false
    property real menuMaxHeight: 327
    property real rowHeight: 33
    property int menuFontSize: 15
    property string tip
    // Shown, where not empty, when no option has the value (nothing chosen); otherwise the
    // value itself is shown.
    property string noneText
    readonly property alias menuOpen: menu.visible
    readonly property font menuFont: Qt.font({family: "Microsoft YaHei UI", pixelSize: menuFontSize})

    signal picked(var value)

    function shownText() {
        if (value === undefined || value === null)
            return ""
        for (const option of options) {
            if (option.value == value)
                return (option.short || option.label) + suffix
        }
        return noneText !== "" ? noneText : String(value) + suffix
    }

    // The scale between the window and the picker (a scaled stage): the menu is drawn at it too.
    function windowScale() {
        const left = picker.mapToItem(null, 0, 0).x
        const right = picker.mapToItem(null, picker.width, 0).x
        return picker.width > 0 ? (right - left) / picker.width : 1
    }

    // The menu's left edge in the picker's coordinates: under the picker, kept inside the window
    // (with alignRight: right edges aligned). Worked out in window coordinates, where the window's
    // edges are.
    function menuX() {
        const window = picker.Window.window
        const scale = menu.scale
        if (!window || scale <= 0)
            return 0
        const left = picker.mapToItem(null, 0, 0).x
        const wide = menu.width * scale
        let x = left
        if (alignRight)
            x = Math.min(left, left + picker.width * scale - wide)
        else
            x = Math.max(0, Math.min(left, window.width - wide))
        return (x - left) / scale
    }

    // The widest option label as a menu row draws it.
    function widestLabel() {
        let widest = 0
        for (let i = 0; i < labelMeasures.count; ++i)
            widest = Math.max(widest, labelMeasures.itemAt(i).implicitWidth)
        return widest
    }

    implicitWidth: 120
    implicitHeight: 30

    // Every option's label in the rows' font, never shown: the menu is measured by all of them,
    // also by the rows it makes only once they scroll into view.
    Item {
        visible: false

        Repeater {
            id: labelMeasures
            model: picker.options

            Text {
                required property var modelData
                text: modelData.label
                font: picker.menuFont
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        radius: picker.cornerRadius
        color: "transparent"
        border.width: 1
        border.color: Qt.rgba(picker.fg.r, picker.fg.g, picker.fg.b, 0.30)
    }

    Text {
        id: shown
        objectName: "pickerText"
        anchors.left: parent.left
        anchors.leftMargin: 12
        anchors.right: caret.left
        anchors.rightMargin: 4
        anchors.verticalCenter: parent.verticalCenter
        text: picker.shownText()
        elide: Text.ElideRight
        color: picker.fg
        font.family: "Microsoft YaHei UI"
        font.pixelSize: picker.fontSize
    }

    UiImage {
        id: caret
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        width: 14
        height: 14
        source: "qrc:/icons/s-caret.svg"
        tint: picker.fg
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            menu.scale = picker.windowScale()
            menu.x = picker.menuX()
            menu.open()
        }
    }

    HoverTip {
        wanted: area.containsMouse && !menu.visible
        text: picker.tip
    }

    Popup {
        id: menu
        objectName: "pickerMenu"

        // Wide enough for the widest label with its row's insets, so that no row is cut, unless
        // the window has no room for that: there the rows elide.
        readonly property real rowTextInset: 12
        readonly property real labelsWidth: Math.ceil(picker.widestLabel())
                                            + 2 * (rowTextInset + rows.anchors.margins)
        readonly property real roomInWindow: picker.Window.window
                                             ? picker.Window.window.width / scale : labelsWidth

        width: Math.max(picker.menuWidth, picker.width + 22, Math.min(labelsWidth, roomInWindow))
        height: Math.min(picker.menuMaxHeight, rows.contentHeight + 11)
        y: picker.openUp ? -5 - height : picker.height + 5
        padding: 0
        transformOrigin: Popup.TopLeft
        modal: false
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        background: Rectangle {
            radius: 14
            color: bridge.theme.cardSolid
            border.width: 1
            border.color: bridge.theme.line25
        }

        contentItem: Item {
            ListView {
                id: rows
                anchors.fill: parent
                anchors.margins: 5.5
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                model: picker.options

                delegate: Rectangle {
                    id: row
                    required property var modelData
                    readonly property bool current: modelData.value == picker.value

                    width: ListView.view.width
                    height: picker.rowHeight
                    radius: 10
                    color: current || rowArea.containsMouse ? bridge.theme.line06 : "transparent"

                    Text {
                        anchors.left: parent.left
                        anchors.leftMargin: menu.rowTextInset
                        anchors.right: parent.right
                        anchors.rightMargin: menu.rowTextInset
                        anchors.verticalCenter: parent.verticalCenter
                        text: row.modelData.label
                        elide: Text.ElideRight
                        color: bridge.theme.text
                        font: picker.menuFont
                    }

                    MouseArea {
                        id: rowArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onClicked: {
                            menu.close()
                            picker.picked(row.modelData.value)
                        }
                    }
                }
            }

            Rectangle {
                objectName: "pickerScrollIndicator"
                readonly property real track: rows.height
                visible: rows.contentHeight > rows.height
                x: parent.width - 7 - width
                y: rows.y + rows.visibleArea.yPosition * track
                width: 3
                height: Math.max(18, rows.visibleArea.heightRatio * track)
                radius: 1.5
                color: Palette.white60
            }
        }
    }
}
