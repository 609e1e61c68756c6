import QtQuick
import "Palette.js" as Palette

// The import guide for a processor make whose own software takes the EQ (XTA by pasting, NST from
// a file): an export button that runs the converter, its note, the numbered steps and a picture
// of the menu entry to use with an arrow from the step that names it.
Item {
    id: guide

    // "xta" or "nst".
    property string target: "xta"
    property string deviceName
    property string noteText
    property bool noteWarning: false
    property bool exporting: false

    signal exported(var result)

    readonly property bool xta: target === "xta"
    readonly property color ink: bridge.theme.text
    readonly property var steps: xta ? ["在本软件点上面的「复制 EQ」。",
                                        "打开 XTA 控制软件，点 Output PEQ，选目标输出通道。",
                                        "在 XTA 里点鼠标右键，选 Paste Output Channel Filters"
                                        + "<font color=\"" + Palette.red + "\">"
                                        + "（只粘贴 EQ，别点上面那条 Paste Output Channel）</font>。",
                                        "看曲线，确认这一段 EQ 已经写进处理器。"]
                                     : ["在本软件点上面的「生成预设」，文件会生成在桌面。",
                                        "打开 NST 控制软件，目标通道点右键，选 Load Output Channel Settings。",
                                        "在文件对话框里选中桌面刚生成的文件，点打开。",
                                        "看曲线，确认这一段 EQ 已经写进处理器。",
                                        "<font color=\"" + Palette.red + "\">"
                                        + "此方式会默认让推子处在 -20dB，导入完成之后，推回原位即可。</font>"]
    // The step the arrow starts from, and where it points on the picture.
    readonly property int arrowStep: xta ? 2 : 1
    readonly property point arrowTip: xta ? Qt.point(403, 300) : Qt.point(330, 261)

    // The converter waits up to 20 s with user input held back: the busy text is painted first.
    function runExport() {
        if (exporting)
            return
        exporting = true
        exportDelay.start()
    }

    onTargetChanged: arrow.requestPaint()

    Timer {
        id: exportDelay
        interval: 60
        onTriggered: {
            const result = bridge.exportEqToProcessor(guide.target)
            guide.exporting = false
            guide.exported(result)
        }
    }

    Text {
        objectName: "guideTitle"
        x: 24
        y: 14
        text: guide.deviceName + (guide.xta ? " · 复制粘贴教程" : " · 文件导入教程")
        color: guide.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.bold: true
    }

    PillButton {
        objectName: "exportButton"
        x: 24
        y: 44
        width: 140
        height: 34
        fontSize: 14
        letterSpacing: 0.6
        text: guide.exporting ? (guide.xta ? "正在复制…" : "正在生成…")
                              : (guide.xta ? "复制 EQ" : "生成预设")
        onClicked: guide.runExport()
    }

    Text {
        id: note
        objectName: "exportNote"
        x: 176
        y: 40
        width: 460
        height: 44
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        text: guide.noteText
        color: guide.noteWarning ? Palette.amber : guide.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 12
        SequentialAnimation on opacity {
            running: guide.noteText !== ""
            loops: Animation.Infinite
            NumberAnimation {
                from: 1
                to: 0.45
                duration: 700
            }
            NumberAnimation {
                from: 0.45
                to: 1
                duration: 700
            }
        }
    }

    Column {
        id: stepList
        x: 24
        y: 100
        width: 260
        spacing: 10
        Repeater {
            id: stepRows
            model: guide.steps
            Row {
                required property int index
                required property string modelData
                spacing: 8
                Rectangle {
                    width: 20
                    height: 20
                    radius: 10
                    color: Palette.glowBlue
                    Text {
                        anchors.centerIn: parent
                        text: index + 1
                        color: Palette.white
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 11
                        font.bold: true
                    }
                }
                Text {
                    objectName: "step" + (index + 1)
                    width: 232
                    wrapMode: Text.WordWrap
                    textFormat: Text.RichText
                    text: modelData
                    color: guide.ink
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 12
                    lineHeight: 1.2
                }
            }
        }
    }

    // The picture (480 x 320, drawn at 0.6) placed so that the arrow's tip lands on the menu
    // entry (at 215, 132 of the picture), clipped to the area right of the steps.
    Item {
        x: 296
        y: 100
        width: 344
        height: 330
        clip: true
        UiImage {
            objectName: "guidePicture"
            x: guide.arrowTip.x - 0.6 * 215 - parent.x
            y: guide.arrowTip.y - 0.6 * 132 - parent.y
            width: 288
            height: 192
            source: guide.xta ? "qrc:/tutorial/xta-menu.png" : "qrc:/tutorial/nst-menu.png"
            oversample: 2
        }
        Text {
            objectName: "guideCaption"
            x: 0
            y: guide.arrowTip.y - 0.6 * 132 - parent.y + 200
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            textFormat: Text.RichText
            text: guide.xta ? "只点 Paste Output Channel Filters<font color=\"" + Palette.red
                              + "\">（只粘贴 EQ）</font>"
                            : "NST 右键：Load Output Channel Settings"
            color: guide.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
    }

    // The arrow from the step that names the menu entry to the entry on the picture.
    Canvas {
        id: arrow
        objectName: "guideArrow"
        anchors.fill: parent
        readonly property Item fromRow: stepRows.count > guide.arrowStep
                                        ? stepRows.itemAt(guide.arrowStep) : null
        readonly property real fromY: fromRow ? stepList.y + fromRow.y + fromRow.height / 2 : 0
        onFromYChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            if (!fromRow)
                return
            const x0 = 292, y0 = fromY
            const x1 = guide.arrowTip.x, y1 = guide.arrowTip.y
            const angle = Math.atan2(y1 - y0, x1 - x0)
            ctx.strokeStyle = Palette.guideBlue
            ctx.fillStyle = Palette.guideBlue
            ctx.lineWidth = 3
            ctx.lineCap = "round"
            ctx.lineJoin = "round"
            ctx.beginPath()
            ctx.moveTo(x0, y0)
            ctx.lineTo(x1, y1)
            ctx.stroke()
            ctx.beginPath()
            ctx.moveTo(x1, y1)
            ctx.lineTo(x1 - 13 * Math.cos(angle - 0.42), y1 - 13 * Math.sin(angle - 0.42))
            ctx.moveTo(x1, y1)
            ctx.lineTo(x1 - 13 * Math.cos(angle + 0.42), y1 - 13 * Math.sin(angle + 0.42))
            ctx.stroke()
        }
    }
}
