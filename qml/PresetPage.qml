import QtQuick
import QtQuick.Dialogs
import "Palette.js" as Palette

// The processor's presets: the slots on the left, the running preset, a name field and six
// actions on the right. Outcomes go to the main window's toast. Long actions show a busy text
// first (the client blocks while it waits) and block further actions until they end.
Item {
    id: presets

    readonly property var proc: bridge.processor
    property var rows: []
    property int selectedSlot: -1
    property string nameText
    property string busyText

    readonly property bool dark: bridge.darkMode
    readonly property color ink: Palette.ink(dark)
    readonly property color softInk: Palette.softInk(dark)
    readonly property color hair: Palette.hair(dark)
    readonly property color accent: Palette.accent(dark)
    readonly property color accentFill: Palette.accentFill(dark)
    readonly property color cardFill: Palette.cardFill(dark)

    signal back

    function refresh(selectSlot) {
        rows = proc.readPresets().list || []
        const keep = selectSlot === undefined ? selectedSlot : selectSlot
        selectedSlot = rows.some(row => row.slot === keep) ? keep : -1
        syncName()
    }

    function rowOf(slot) {
        return rows.find(row => row.slot === slot)
    }

    function syncName() {
        const row = rowOf(selectedSlot)
        nameText = row ? row.name : ""
    }

    function slotValid(slot) {
        const row = rowOf(slot)
        return row ? row.valid : false
    }

    // A slot the processor did not say anything about, with the preset it may hold.
    function unknownText(name) {
        return name ? name + "（状态未知）" : "状态未知"
    }

    function currentName() {
        const row = rows.find(row => row.current)
        return row ? row.name : "出厂默认"
    }

    function runBusy(text, action) {
        if (busyText !== "")
            return
        busyText = text
        busyTimer.action = action
        busyTimer.restart()
    }

    function select(slot) {
        selectedSlot = slot
        syncName()
    }

    function doSave() {
        if (selectedSlot < 0) {
            bridge.toast("先在左边选一格。")
            return
        }
        const slot = selectedSlot
        const result = proc.savePreset(slot, nameText)
        // A slot whose state the processor did not report is refused with what it may hold.
        bridge.toast(result.ok ? "保存成功" : rowOf(slot).known ? "保存失败" : result.message)
        if (result.ok)
            refresh(slot)
    }

    function doLoad() {
        if (!slotValid(selectedSlot)) {
            bridge.toast("先在左边选一个预设。")
            return
        }
        runBusy("正在加载…", () => {
                    const slot = selectedSlot
                    const ok = proc.loadPreset(slot).ok
                    bridge.toast(ok ? "加载成功" : "加载失败")
                    if (ok)
                        refresh(slot)
                })
    }

    function doExport() {
        if (!slotValid(selectedSlot)) {
            bridge.toast("先在左边选一个预设。")
            return
        }
        runBusy("正在导出…", () => bridge.toast(proc.exportPreset(selectedSlot).ok ? "导出成功"
                                                                                      : "导出失败"))
    }

    function doDelete() {
        if (!slotValid(selectedSlot)) {
            const row = rowOf(selectedSlot)
            bridge.toast(row && !row.known ? "设备没报告这一格是不是空的，没删。" : "这一格是空的。")
            return
        }
        const slot = selectedSlot
        const ok = proc.deletePreset(slot).ok
        bridge.toast(ok ? "删除成功" : "删除失败")
        if (ok)
            refresh(slot)
    }

    function doReset() {
        runBusy("正在重置…", () => {
                    const ok = proc.resetDevice().ok
                    bridge.toast(ok ? "重置成功" : "重置失败")
                    if (ok)
                        refresh(-1)
                })
    }

    // The result's own message: an import that ran but could not be stored says so.
    function doImport(url) {
        runBusy("正在导入…", () => {
                    const result = proc.importPreset(url)
                    bridge.toast(result.ok ? result.message : "导入失败")
                    if (result.ok)
                        refresh(-1)
                })
    }

    width: 660
    height: 468
    onVisibleChanged: if (visible)
                          refresh(-1)

    Timer {
        id: busyTimer
        property var action
        interval: 60
        onTriggered: {
            action()
            presets.busyText = ""
        }
    }

    FileDialog {
        id: importDialog
        objectName: "importDialog"
        title: "选择预设文件"
        // Where the page's own exports land.
        currentFolder: presets.proc.presetFolder
        // The slot files come with the extension in any letter case.
        nameFilters: ["预设文件 (*.[Pp][Aa][Rr][Mm])", "所有文件 (*)"]
        onAccepted: presets.doImport(selectedFile.toString())
    }

    GlowField {
        x: 12
        y: 30
        width: 660
        height: 430
        centerX: 0.5
        centerY: 0.5
        radiusX: 0.78
        radiusY: 0.72
        alphaCenter: 0.42
        alphaMid: 0.28
        alphaOuter: 0.07
        alphaTail: 0.02
    }

    IconButton {
        objectName: "backButton"
        x: 20
        y: 8
        size: 32
        inset: 8
        icon: "s-caret"
        iconRotation: 90
        onClicked: presets.back()
    }

    Text {
        x: 62
        y: 13
        text: "预设"
        color: presets.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.bold: true
        font.letterSpacing: 0.6
    }

    Rectangle {
        x: 20
        y: 64
        width: 280
        height: 384
        radius: 12
        color: presets.cardFill
        border.width: 1
        border.color: presets.hair

        Text {
            x: 12
            y: 14
            text: "预设列表"
            color: presets.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
            font.bold: true
        }
    }

    ListView {
        objectName: "presetList"
        x: 32
        y: 108
        width: 256
        height: 324
        clip: true
        spacing: 4
        boundsBehavior: Flickable.StopAtBounds
        model: presets.rows

        delegate: Rectangle {
            required property int index
            required property var modelData
            readonly property bool selected: modelData.slot === presets.selectedSlot
            objectName: "presetRow" + index
            width: ListView.view.width
            height: 30
            radius: 8
            color: selected ? presets.accentFill : "transparent"
            border.width: selected ? 1 : 0
            border.color: presets.accent

            Text {
                objectName: "rowNumber"
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                text: String(index + 1).padStart(2, "0")
                color: parent.selected ? Palette.selectedSoftInk : presets.softInk
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
            }
            Text {
                objectName: "rowName"
                x: 40
                width: parent.width - 40 - (currentBadge.visible ? 52 : 10)
                anchors.verticalCenter: parent.verticalCenter
                elide: Text.ElideRight
                text: modelData.valid ? (modelData.name || "未命名")
                                      : modelData.known ? "空" : presets.unknownText(modelData.name)
                color: parent.selected ? Palette.selectedInk
                                       : modelData.valid ? presets.ink : presets.softInk
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
            }
            Rectangle {
                id: currentBadge
                readonly property color tone: parent.selected ? Palette.selectedInk : presets.accent
                objectName: "currentBadge"
                visible: modelData.current
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                width: 38
                height: 18
                radius: 9
                color: "transparent"
                border.width: 1
                border.color: tone
                Text {
                    objectName: "badgeText"
                    anchors.centerIn: parent
                    text: "当前"
                    color: currentBadge.tone
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 10
                }
            }
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: presets.select(modelData.slot)
            }
        }
    }

    Rectangle {
        x: 320
        y: 64
        width: 320
        height: 384
        radius: 12
        color: presets.cardFill
        border.width: 1
        border.color: presets.hair

        Text {
            x: 20
            y: 18
            text: "当前预设"
            color: presets.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
            font.bold: true
        }
        Text {
            objectName: "currentName"
            x: 20
            y: 40
            width: 280
            elide: Text.ElideRight
            text: presets.currentName()
            color: presets.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
        Text {
            x: 20
            y: 84
            text: "预设名称"
            color: presets.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
            font.bold: true
        }
        Rectangle {
            x: 20
            y: 106
            width: 150
            height: 24
            radius: 6
            color: "transparent"
            border.width: 1
            border.color: nameInput.activeFocus ? presets.accent : presets.hair
            TextInput {
                id: nameInput
                objectName: "nameField"
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                verticalAlignment: TextInput.AlignVCenter
                clip: true
                selectByMouse: true
                text: presets.nameText
                color: presets.ink
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
                onActiveFocusChanged: if (activeFocus)
                                          selectAll()
                onTextEdited: presets.nameText = text
            }
        }

        Grid {
            x: 20
            y: 152
            columns: 2
            columnSpacing: 16
            rowSpacing: 14
            PresetAction {
                objectName: "saveButton"
                text: "保存"
                primary: true
                onClicked: presets.doSave()
            }
            PresetAction {
                objectName: "loadButton"
                text: "加载"
                onClicked: presets.doLoad()
            }
            PresetAction {
                objectName: "importButton"
                text: "导入"
                onClicked: importDialog.open()
            }
            PresetAction {
                objectName: "exportButton"
                text: "导出"
                onClicked: presets.doExport()
            }
            PresetAction {
                objectName: "deleteButton"
                text: "删除"
                onClicked: presets.doDelete()
            }
            PresetAction {
                objectName: "resetButton"
                text: "重置设备"
                onClicked: presets.doReset()
            }
        }

        Text {
            objectName: "hint"
            x: 20
            y: 290
            width: 280
            wrapMode: Text.WordWrap
            text: "选中左边的预设槽，更改或填入名称，点击保存"
            color: presets.softInk
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 11
        }
    }

    Text {
        objectName: "busyText"
        anchors.centerIn: parent
        visible: presets.busyText !== ""
        text: presets.busyText
        color: presets.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 14
        font.bold: true
    }

    component PresetAction: PillButton {
        width: 110
        height: 24
        fontSize: 12
        letterSpacing: 0.6
        primary: false
        enabled: presets.busyText === ""
    }
}
