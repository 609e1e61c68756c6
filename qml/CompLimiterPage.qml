import QtQuick
import "EqChart.js" as EqChart
import "Palette.js" as Palette

// The compressor and limiter of one processor output: their static transfer curves, the values
// computed from the loudspeaker's and the amplifier's ratings ("计算"), on/off switches, copy
// and paste. Thresholds are in dBu at the processor's output: the voltage that, through the
// amplifier's gain, drives the loudspeaker to its rated RMS (compressor) or peak (limiter)
// voltage. Only finite values are ever written.
Item {
    id: dyn

    readonly property var proc: bridge.processor
    property int spkIndex: 0

    property bool compEnabled: true
    property bool limEnabled: true
    property real compThrd: 18.0
    property real limThrd: 18.0
    property real compKnee: 30
    property real compRatio: 20
    property real compAttack: 20
    property real compRelease: 200
    property real limRelease: 200

    property real spkPower: 400
    property real spkZ: 8
    property real lowCut: 100
    property bool byGain: false
    property real sensV: 1.4
    property real ampPower: 800
    property real ampZ: 8
    property real gainDb: 32

    property var clip: null
    // The panel's wrapper around a write, which says what the processor refused.
    required property var runWrite

    readonly property var valueKeys: ["compEnabled", "limEnabled", "compThrd", "limThrd", "compKnee",
        "compRatio", "compAttack", "compRelease", "limRelease"]
    readonly property var ratingKeys: ["spkPower", "spkZ", "lowCut", "byGain", "sensV", "ampPower",
        "ampZ", "gainDb"]

    readonly property bool dark: bridge.darkMode
    readonly property color ink: Palette.ink(dark)
    readonly property color hair: Palette.hair(dark)
    readonly property color accent: Palette.accent(dark)
    readonly property color accentFill: Palette.accentFill(dark)
    readonly property color cardFill: Palette.cardFill(dark)

    signal back

    // The dynamics that the ratings `r` call for (thresholds in dBu, times in ms).
    function design(r) {
        return proc.designDynamics(r)
    }

    function ratings() {
        const r = {}
        for (const key of ratingKeys)
            r[key] = dyn[key]
        return r
    }

    function values() {
        const v = {}
        for (const key of valueKeys)
            v[key] = dyn[key]
        return v
    }

    function takeValues(v) {
        for (const key of valueKeys)
            dyn[key] = v[key]
        chart.requestPaint()
    }

    function recalc() {
        const d = design(ratings())
        for (const key in d)
            dyn[key] = d[key]
        chart.requestPaint()
    }

    // A rating that is not a finite number above 0 (the gain: any finite number), or that would
    // make a threshold infinite, is refused and the field shows the stored value again.
    function setRating(key, text, anySign) {
        const value = Number(text.trim())
        if (text.trim() === "" || !isFinite(value) || (!anySign && value <= 0))
            return
        const r = ratings()
        r[key] = value
        const d = design(r)
        if (!isFinite(d.compThrd) || !isFinite(d.limThrd))
            return
        dyn[key] = value
        recalc()
    }

    function loadChannel(i) {
        spkIndex = i
        const d = proc.readDynamics(i)
        if (d.compThrd !== undefined)
            takeValues(d)
        chart.requestPaint()
    }

    // Writes the nine values `v`, then shows what the processor holds: after a refusal, which
    // the panel says, its own values again. `sayDone`: a write it took is said too.
    function write(v, sayDone) {
        runWrite(() => {
                     const result = proc.writeDynamics(spkIndex, v)
                     if (result.ok && sayDone)
                         bridge.toast(result.message)
                 }, () => loadChannel(spkIndex))
    }

    function applyDynamics() {
        if (!proc.connected) {
            bridge.toast("先连接处理器。")
            return
        }
        write(values(), false)
    }

    function copyValues() {
        clip = values()
        bridge.toast("已复制压缩限幅")
    }

    function pasteValues() {
        if (!clip) {
            bridge.toast("先复制一次")
            return
        }
        takeValues(clip)
        if (!proc.connected) {
            bridge.toast("已粘贴，未连接处理器")
            return
        }
        write(clip, true)
    }

    function calculate() {
        recalc()
        compEnabled = true
        limEnabled = true
        if (!proc.connected) {
            bridge.toast("先连接处理器，参数已算好。")
            return
        }
        write(values(), true)
    }

    // Output level for input level x (dB) of the compressor with a soft knee.
    function compressed(x) {
        return proc.compressedLevel(x, compThrd, compKnee, compRatio)
    }

    width: 660
    height: 468
    Component.onCompleted: recalc()
    onVisibleChanged: if (visible)
                          loadChannel(spkIndex)

    Connections {
        target: bridge
        function onThemeChanged() {
            chart.requestPaint()
        }
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
        onClicked: dyn.back()
    }
    Text {
        x: 62
        y: 13
        text: "压缩 / 限幅"
        color: dyn.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.bold: true
        font.letterSpacing: 0.6
    }
    Row {
        x: 160
        y: 12
        spacing: 6
        PillButton {
            objectName: "copyButton"
            width: 52
            height: 24
            fontSize: 12
            letterSpacing: 0.6
            primary: false
            text: "复制"
            onClicked: dyn.copyValues()
        }
        PillButton {
            objectName: "pasteButton"
            width: 52
            height: 24
            fontSize: 12
            letterSpacing: 0.6
            primary: false
            text: "粘贴"
            onClicked: dyn.pasteValues()
        }
    }
    Row {
        x: 660 - 20 - width
        y: 12
        spacing: 4
        Repeater {
            model: 8
            Rectangle {
                required property int index
                objectName: "out" + index
                width: 24
                height: 24
                radius: 12
                color: index === dyn.spkIndex ? dyn.accentFill : "transparent"
                border.width: 1
                border.color: index === dyn.spkIndex ? Palette.glowBlue : dyn.hair
                Text {
                    anchors.centerIn: parent
                    text: index + 1
                    color: index === dyn.spkIndex ? Palette.selectedInk : dyn.ink
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 11
                }
                MouseArea {
                    id: channelArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: dyn.loadChannel(parent.index)
                }
                HoverTip {
                    wanted: channelArea.containsMouse
                    text: "选择通道"
                }
            }
        }
    }

    Rectangle {
        x: 20
        y: 48
        width: 330
        height: 330
        radius: 12
        color: dyn.cardFill
        border.width: 1
        border.color: dyn.hair

        Text {
            x: 16
            y: 234
            text: "结果"
            color: dyn.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
            font.bold: true
        }
        Grid {
            objectName: "results"
            x: 16
            y: 256
            columns: 2
            columnSpacing: 24
            rowSpacing: 6
            flow: Grid.TopToBottom
            rows: 3
            Repeater {
                model: [["压缩阈值", dyn.compThrd.toFixed(1) + " dBu"], ["启动时间", Math.round(dyn.compAttack) + " ms"], ["压缩比", Math.round(dyn.compRatio) + ":1"], ["峰值阈值", dyn.limThrd.toFixed(1) + " dBu"], ["释放时间", Math.round(dyn.compRelease) + " ms"], ["拐点", Math.round(dyn.compKnee) + " dB"]]
                Row {
                    required property var modelData
                    objectName: "result_" + modelData[0]
                    property string value: modelData[1]
                    spacing: 8
                    Text {
                        width: 56
                        text: modelData[0]
                        color: dyn.ink
                        opacity: 0.7
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 12
                    }
                    Text {
                        width: 74
                        text: modelData[1]
                        color: dyn.ink
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 12
                        font.bold: true
                    }
                }
            }
        }
    }

    // Both axes from -80 to +30 dB; drawn at twice its shown size.
    Canvas {
        id: chart
        objectName: "dynChart"
        x: 30
        y: 54
        width: 620
        height: 440
        scale: 0.5
        transformOrigin: Item.TopLeft
        readonly property rect plot: Qt.rect(64, 16, 540, 380)

        function xOf(db) {
            return plot.x + (db + 80) / 110 * plot.width
        }
        function yOf(db) {
            return plot.y + (1 - (db + 80) / 110) * plot.height
        }
        function rgba(alpha) {
            return Qt.rgba(dyn.ink.r, dyn.ink.g, dyn.ink.b, alpha)
        }
        function trace(ctx, level) {
            ctx.beginPath()
            for (let x = -80; x <= 30; x += 0.5) {
                const y = Math.max(-80, Math.min(30, level(x)))
                if (x === -80)
                    ctx.moveTo(xOf(x), yOf(y))
                else
                    ctx.lineTo(xOf(x), yOf(y))
            }
            ctx.stroke()
        }

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = 1
            ctx.strokeStyle = rgba(0.08)
            ctx.beginPath()
            for (let db = -80; db <= 30; db += 10) {
                ctx.moveTo(xOf(db), plot.y)
                ctx.lineTo(xOf(db), plot.y + plot.height)
                ctx.moveTo(plot.x, yOf(db))
                ctx.lineTo(plot.x + plot.width, yOf(db))
            }
            ctx.stroke()
            ctx.fillStyle = rgba(0.72)
            ctx.font = "18px " + EqChart.fontFamilies
            for (let db = -80; db <= 20; db += 20) {
                ctx.textAlign = "center"
                ctx.fillText(String(db), xOf(db), plot.y + plot.height + 24)
                ctx.textAlign = "right"
                ctx.fillText(String(db), plot.x - 8, yOf(db) + 6)
            }
            ctx.textAlign = "right"
            ctx.fillText("输入", plot.x + plot.width, plot.y + plot.height + 24)
            ctx.strokeStyle = rgba(0.3)
            ctx.setLineDash([6, 6])
            trace(ctx, x => x)
            ctx.setLineDash([])
            ctx.lineWidth = 3
            ctx.strokeStyle = dyn.accent
            trace(ctx, x => dyn.compressed(x))
            ctx.strokeStyle = rgba(0.75)
            trace(ctx, x => Math.min(x, dyn.limThrd))
            ctx.font = "18px " + EqChart.fontFamilies
            ctx.textAlign = "left"
            ctx.fillStyle = dyn.accent
            ctx.fillRect(plot.x + 16, plot.y + 14, 24, 4)
            ctx.fillText("压缩", plot.x + 48, plot.y + 22)
            ctx.fillStyle = rgba(0.75)
            ctx.fillRect(plot.x + 110, plot.y + 14, 24, 4)
            ctx.fillText("限幅", plot.x + 142, plot.y + 22)
        }
    }

    Rectangle {
        x: 362
        y: 48
        width: 278
        height: 406
        radius: 12
        color: dyn.cardFill
        border.width: 1
        border.color: dyn.hair

        Column {
            x: 16
            y: 12
            spacing: 8

            SectionTitle {
                text: "音箱参数"
            }
            RatingField {
                objectName: "spkPowerField"
                label: "功率"
                unit: "W"
                shown: Math.round(dyn.spkPower)
                onCommitted: text => dyn.setRating("spkPower", text, false)
            }
            RatingField {
                objectName: "spkZField"
                label: "阻抗"
                unit: "Ω"
                shown: dyn.spkZ.toFixed(1)
                onCommitted: text => dyn.setRating("spkZ", text, false)
            }
            RatingField {
                objectName: "lowCutField"
                label: "低切"
                unit: "Hz"
                shown: Math.round(dyn.lowCut)
                onCommitted: text => dyn.setRating("lowCut", text, false)
            }
            SectionTitle {
                text: "功放参数"
            }
            Row {
                spacing: 6
                Repeater {
                    model: [[false, "灵敏度", "bySensitivity"], [true, "电压增益", "byGain"]]
                    Rectangle {
                        required property var modelData
                        objectName: modelData[2]
                        readonly property bool current: dyn.byGain === modelData[0]
                        width: 76
                        height: 24
                        radius: 12
                        color: current ? dyn.accentFill : "transparent"
                        border.width: 1
                        border.color: current ? Palette.glowBlue : dyn.hair
                        Text {
                            anchors.centerIn: parent
                            text: parent.modelData[1]
                            color: parent.current ? Palette.selectedInk : dyn.ink
                            font.family: "Microsoft YaHei UI"
                            font.pixelSize: 12
                        }
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: {
                                dyn.byGain = parent.modelData[0]
                                dyn.recalc()
                            }
                        }
                    }
                }
            }
            RatingField {
                objectName: "sensField"
                visible: !dyn.byGain
                label: "灵敏度"
                unit: "V"
                shown: dyn.sensV.toFixed(2)
                onCommitted: text => dyn.setRating("sensV", text, false)
            }
            RatingField {
                objectName: "ampPowerField"
                visible: !dyn.byGain
                label: "功率"
                unit: "W"
                shown: Math.round(dyn.ampPower)
                onCommitted: text => dyn.setRating("ampPower", text, false)
            }
            RatingField {
                objectName: "ampZField"
                visible: !dyn.byGain
                label: "阻抗"
                unit: "Ω"
                shown: dyn.ampZ.toFixed(1)
                onCommitted: text => dyn.setRating("ampZ", text, false)
            }
            RatingField {
                objectName: "gainField"
                visible: dyn.byGain
                label: "电压增益"
                unit: "dB"
                shown: Math.round(dyn.gainDb)
                onCommitted: text => dyn.setRating("gainDb", text, true)
            }
        }

        Row {
            x: 16
            y: 300
            spacing: 10
            Text {
                height: 21
                verticalAlignment: Text.AlignVCenter
                text: "压缩"
                color: dyn.ink
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
            }
            UiSwitch {
                objectName: "compSwitch"
                checked: dyn.compEnabled
                onToggled: {
                    dyn.compEnabled = !dyn.compEnabled
                    dyn.applyDynamics()
                }
            }
            Item {
                width: 20
                height: 1
            }
            Text {
                height: 21
                verticalAlignment: Text.AlignVCenter
                text: "限幅"
                color: dyn.ink
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 12
            }
            UiSwitch {
                objectName: "limSwitch"
                checked: dyn.limEnabled
                onToggled: {
                    dyn.limEnabled = !dyn.limEnabled
                    dyn.applyDynamics()
                }
            }
        }

        PillButton {
            objectName: "calculateButton"
            x: 16
            y: 346
            width: 246
            height: 36
            fontSize: 14
            text: "计算"
            onClicked: dyn.calculate()
        }
    }

    component SectionTitle: Text {
        color: dyn.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 12
        font.bold: true
    }

    component RatingField: Row {
        property string label
        property string unit
        property alias shown: entry.shown
        signal committed(string text)
        spacing: 8
        Text {
            width: 64
            height: 24
            verticalAlignment: Text.AlignVCenter
            text: parent.label
            color: dyn.ink
            opacity: 0.75
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
        EntryField {
            id: entry
            objectName: "entry"
            width: 100
            height: 24
            fontSize: 12
            ink: dyn.ink
            onCommitted: text => parent.committed(text)
        }
        Text {
            height: 24
            verticalAlignment: Text.AlignVCenter
            text: parent.unit
            color: dyn.ink
            opacity: 0.75
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
    }
}
