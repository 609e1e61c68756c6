import QtQuick
import QtQuick.Shapes
import "EqChart.js" as EqChart
import "Palette.js" as Palette

// The EQ of one processor channel: 15 parametric bands and the two corners on a response chart
// whose points can be dragged, a band strip, the corner cards, reset, copy and paste. Every
// change is written to the processor at once (a change it refuses is said and goes back); while
// a point is dragged the processor follows through the client's live path and gets one final
// write on release.
Item {
    id: eq

    readonly property var proc: bridge.processor
    property bool isOut: true
    property int chan: 0
    property var bands: []
    property var hpf: ({})
    property var lpf: ({})
    property int sel: 0
    property var clip: null
    property string busyText
    property int dragging: -1
    // The panel's wrapper around a write, which says what the processor refused.
    required property var runWrite

    readonly property var peqTypes: ["参量", "低架", "高架", "全通一阶", "全通二阶"]
    readonly property var hlpTypes: ["巴特6", "巴特12", "巴特18", "巴特24", "巴特36", "巴特48", "贝塞6",
        "贝塞12", "贝塞18", "贝塞24", "贝塞36", "贝塞48", "LR12", "LR24", "LR36", "LR48"]

    readonly property bool dark: bridge.darkMode
    readonly property color ink: Palette.ink(dark)
    readonly property color hair: Palette.hair(dark)
    readonly property color accentFill: Palette.accentFill(dark)
    readonly property color cardFill: Palette.cardFill(dark)

    signal back

    function loadChannel() {
        const channel = proc.readEqChannel(isOut, chan)
        bands = channel.bands || []
        hpf = channel.hpf || {}
        lpf = channel.lpf || {}
        if (sel < 0 || sel >= bands.length)
            sel = 0
    }

    function bandAt(i) {
        return i >= 0 && i < bands.length ? bands[i] : {
                                                            "freq": 100,
                                                            "gain": 0,
                                                            "q": 1,
                                                            "type": 0,
                                                            "bypass": true
                                                        }
    }

    // Runs one write, then shows the channel as the client holds it: a value the processor
    // refused (the panel says so) goes back to the processor's own.
    function send(action) {
        runWrite(action, loadChannel)
    }

    function updateBand(i, patch, write) {
        if (i < 0 || i >= bands.length)
            return
        const list = bands.slice()
        list[i] = Object.assign({}, list[i], patch)
        bands = list
        if (write !== false)
            send(() => proc.setEqBand(isOut, chan, i, list[i]))
    }

    function setFilter(highPass, patch) {
        const corner = Object.assign({}, highPass ? hpf : lpf, patch)
        if (highPass)
            hpf = corner
        else
            lpf = corner
        send(() => proc.setEqFilter(isOut, chan, highPass, corner))
    }

    function runBusy(text, action) {
        if (busyText !== "")
            return
        busyText = text
        busyTimer.action = action
        busyTimer.restart()
    }

    function resetAll() {
        for (let i = 0; i < bands.length; ++i)
            updateBand(i, {
                           "gain": 0,
                           "q": 1,
                           "type": 0,
                           "bypass": true
                       })
        setFilter(true, {
                      "bypass": true
                  })
        setFilter(false, {
                      "bypass": true
                  })
    }

    function copyAll() {
        clip = JSON.parse(JSON.stringify({
                                             "bands": bands,
                                             "hpf": hpf,
                                             "lpf": lpf
                                         }))
        bridge.toast("已复制")
    }

    function pasteAll() {
        if (!clip)
            return
        const count = Math.min(bands.length, clip.bands.length)
        for (let i = 0; i < count; ++i)
            updateBand(i, clip.bands[i])
        for (const side of ["hpf", "lpf"]) {
            if (clip[side] && Object.keys(clip[side]).length > 0)
                setFilter(side === "hpf", clip[side])
        }
        bridge.toast("已粘贴")
    }

    // A number typed into a field, limited to [low, high] and rounded to `step`; undefined for
    // text that is not a finite number.
    function fieldValue(text, low, high, step) {
        const value = Number(text.trim())
        if (text.trim() === "" || !isFinite(value))
            return undefined
        return Math.round(Math.max(low, Math.min(high, value)) / step) * step
    }

    function selectChannel(out, index) {
        isOut = out
        chan = index
        loadChannel()
    }

    width: 660
    height: 468
    onVisibleChanged: if (visible)
                          loadChannel()

    Connections {
        target: bridge
        function onThemeChanged() {
            grid.requestPaint()
        }
    }

    // The channel as the client holds it whenever that changes (a value pushed by the processor,
    // a dragged value it did not take), except under the hand dragging a point.
    Connections {
        target: eq.proc
        enabled: eq.visible
        function onChannelsChanged() {
            if (eq.dragging < 0)
                eq.loadChannel()
        }
    }

    Timer {
        id: busyTimer
        property var action
        interval: 60
        onTriggered: {
            action()
            eq.busyText = ""
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
        onClicked: eq.back()
    }
    Text {
        x: 62
        y: 13
        text: "均衡"
        color: eq.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.bold: true
        font.letterSpacing: 0.6
    }

    Row {
        x: 104
        y: 12
        spacing: 6
        EqAction {
            objectName: "resetButton"
            text: "重置"
            tip: "重置 EQ"
            onClicked: eq.runBusy("处理中…", eq.resetAll)
        }
        EqAction {
            objectName: "copyButton"
            text: "复制"
            tip: "复制 EQ"
            onClicked: eq.runBusy("处理中…", eq.copyAll)
        }
        EqAction {
            objectName: "pasteButton"
            text: "粘贴"
            tip: "粘贴 EQ"
            onClicked: eq.runBusy("处理中…", eq.pasteAll)
        }
    }

    Row {
        objectName: "channelButtons"
        x: 660 - 20 - width
        y: 12
        spacing: 4
        Repeater {
            model: 12
            Item {
                required property int index
                readonly property bool out: index >= 4
                readonly property int number: out ? index - 4 : index
                readonly property bool current: out === eq.isOut && number === eq.chan
                objectName: (out ? "out" : "in") + number
                width: index === 4 ? 34 : 24
                height: 24
                Rectangle {
                    anchors.right: parent.right
                    width: 24
                    height: 24
                    radius: 12
                    color: parent.current ? eq.accentFill : "transparent"
                    border.width: 1
                    border.color: parent.current ? Palette.glowBlue : eq.hair
                    Text {
                        anchors.centerIn: parent
                        text: parent.parent.out ? String(parent.parent.number + 1)
                                                : String.fromCharCode(65 + parent.parent.number)
                        color: parent.parent.current ? Palette.selectedInk : eq.ink
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 11
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: eq.selectChannel(parent.parent.out, parent.parent.number)
                    }
                }
            }
        }
    }

    Rectangle {
        x: 20
        y: 48
        width: 620
        height: 186
        radius: 12
        color: eq.cardFill
        border.width: 1
        border.color: eq.hair
    }

    // The grid and its labels, drawn at twice their shown size like the chart above them; they
    // change only with the palette.
    Canvas {
        id: grid
        x: chart.x
        y: chart.y
        width: chart.width
        height: chart.height
        scale: 0.5
        transformOrigin: Item.TopLeft
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            EqChart.paintGrid(ctx, chart.plot, eq.ink)
        }
    }

    // The response curve (a path, so a drag only moves vertices) and the band points over the
    // grid, in the grid's canvas units.
    Item {
        id: chart
        objectName: "eqChart"
        x: 30
        y: 55
        width: 1200
        height: 344
        scale: 0.5
        transformOrigin: Item.TopLeft
        readonly property rect plot: Qt.rect(60, 10, 1080, 308)

        Shape {
            anchors.fill: parent
            ShapePath {
                strokeColor: Palette.glowBlue
                strokeWidth: 3
                fillColor: "transparent"
                joinStyle: ShapePath.RoundJoin
                capStyle: ShapePath.RoundCap
                PathMultiline {
                    paths: EqChart.curveSegments(chart.plot, eq.bands, eq.hpf, eq.lpf)
                }
            }
        }

        Repeater {
            model: eq.bands.length
            Item {
                required property int index
                readonly property var band: eq.bands[index]
                readonly property var at: band ? EqChart.dotOf(chart.plot, band) : Qt.point(0, 0)
                readonly property bool selected: index === eq.sel
                visible: EqChart.active(band)
                Rectangle {
                    x: parent.at.x - 7
                    y: parent.at.y - 7
                    width: 14
                    height: 14
                    radius: 7
                    color: parent.selected ? eq.ink : Palette.glowBlue35
                    border.width: 2
                    border.color: parent.selected ? eq.ink : Palette.glowBlue
                }
                Text {
                    x: parent.at.x - 20
                    y: parent.at.y - 30
                    width: 40
                    horizontalAlignment: Text.AlignHCenter
                    text: parent.index + 1
                    color: eq.ink
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 14
                    font.bold: true
                }
            }
        }

        MouseArea {
            id: chartArea
            anchors.fill: parent
            hoverEnabled: true
            preventStealing: true
            // The press (on the point as it was shown) ends any editing in a field, so what was
            // typed goes out before the drag and the drag, coming later, is what stays.
            onPressed: mouse => {
                           const hit = EqChart.nearestDot(chart.plot, eq.bands, mouse.x, mouse.y, 18)
                           chartArea.forceActiveFocus()
                           eq.dragging = hit
                           if (hit >= 0)
                               eq.sel = hit
                       }
            onPositionChanged: mouse => {
                                   if (eq.dragging < 0)
                                   return
                                   const at = EqChart.valueAt(chart.plot, mouse.x, mouse.y)
                                   eq.updateBand(eq.dragging, {
                                                     "freq": Math.round(at.freq),
                                                     "gain": Math.round(at.gain * 10) / 10
                                                 }, false)
                                   eq.proc.setEqBandLive(eq.isOut, eq.chan, eq.dragging,
                                                         eq.bands[eq.dragging])
                               }
            onReleased: {
                if (eq.dragging >= 0)
                    eq.send(() => eq.proc.setEqBand(eq.isOut, eq.chan, eq.dragging,
                                                    eq.bands[eq.dragging]))
                eq.dragging = -1
            }
            onWheel: wheel => {
                         const band = eq.bandAt(eq.sel)
                         if (eq.sel >= eq.bands.length)
                         return
                         const q = Math.max(0.2, Math.min(12, band.q * (wheel.angleDelta.y > 0 ? 0.9 : 1.1)))
                         eq.updateBand(eq.sel, {
                                           "q": Math.round(q * 100) / 100
                                       })
                     }
        }
        HoverTip {
            wanted: chartArea.containsMouse && eq.dragging < 0
            text: "频点：拖动改频率和增益"
        }
    }

    CornerCard {
        objectName: "hpfCard"
        x: 20
        highPass: true
    }

    Rectangle {
        objectName: "bandCard"
        x: 148
        y: 242
        width: 364
        height: 212
        radius: 12
        color: eq.cardFill
        border.width: 1
        border.color: eq.hair

        Repeater {
            model: [["F", 60], ["Q", 84], ["G", 108]]
            Text {
                required property var modelData
                x: 10
                y: modelData[1]
                height: 18
                verticalAlignment: Text.AlignVCenter
                text: modelData[0]
                color: eq.ink
                opacity: 0.7
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 11
                font.bold: true
            }
        }

        Flickable {
            id: bandStrip
            objectName: "bandStrip"
            x: 26
            y: 4
            width: 330
            height: 180
            clip: true
            contentWidth: bandRow.width
            boundsBehavior: Flickable.StopAtBounds
            flickableDirection: Flickable.HorizontalFlick

            WheelHandler {
                onWheel: event => {
                             bandStrip.contentX = Math.max(0, Math.min(bandStrip.contentWidth - bandStrip.width,
                                                                       bandStrip.contentX - event.angleDelta.y / 2))
                         }
            }

            Row {
                id: bandRow
                Repeater {
                    model: eq.bands.length
                    BandColumn {}
                }
            }
        }

        // The scroll bar: a click or drag puts the thumb's centre under the pointer.
        Item {
            objectName: "bandScroll"
            x: 26
            y: 192
            width: 330
            height: 10
            readonly property real ratio: bandStrip.width / Math.max(1, bandStrip.contentWidth)
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width
                height: 2
                radius: 1
                color: eq.hair
            }
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                x: bandStrip.contentX * parent.ratio
                width: Math.max(30, parent.width * parent.ratio)
                height: 4
                radius: 2
                color: Palette.glowBlue
            }
            MouseArea {
                anchors.fill: parent
                function jump(x) {
                    const thumb = Math.max(30, width * parent.ratio)
                    const span = Math.max(1, width - thumb)
                    const part = Math.max(0, Math.min(1, (x - thumb / 2) / span))
                    bandStrip.contentX = part * Math.max(0, bandStrip.contentWidth - bandStrip.width)
                }
                onPressed: mouse => jump(mouse.x)
                onPositionChanged: mouse => jump(mouse.x)
            }
        }
    }

    CornerCard {
        objectName: "lpfCard"
        x: 520
        highPass: false
    }

    Text {
        objectName: "busyText"
        anchors.centerIn: parent
        visible: eq.busyText !== ""
        text: eq.busyText
        color: eq.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 14
        font.bold: true
    }

    component EqAction: PillButton {
        width: 52
        height: 24
        fontSize: 12
        letterSpacing: 0.6
        primary: false
    }

    component BandColumn: Item {
        id: column
        required property int index
        readonly property var band: eq.bandAt(index)
        objectName: "band" + index
        width: 64
        height: 180

        Rectangle {
            anchors.fill: parent
            anchors.margins: 2
            radius: 6
            color: column.index === eq.sel ? Qt.rgba(0.29, 0.56, 1, 0.12) : "transparent"
            MouseArea {
                anchors.fill: parent
                onClicked: eq.sel = column.index
            }
        }
        Text {
            y: 6
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: column.index + 1
            color: eq.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 11
            font.bold: true
        }
        Picker {
            objectName: "typePicker"
            x: 3
            y: 28
            width: 58
            height: 22
            fontSize: 10
            menuFontSize: 12
            rowHeight: 26
            menuWidth: 110
            fg: eq.ink
            options: eq.peqTypes.map((name, i) => ({
                                                       "value": i,
                                                       "label": name,
                                                       "short": ["参", "低", "高", "全1", "全2"][i]
                                                   }))
            value: column.band.type
            onPicked: value => eq.updateBand(column.index, {
                                                 "type": value
                                             })
        }
        EntryField {
            objectName: "freqField"
            x: 5
            y: 56
            width: 54
            ink: eq.ink
            shown: String(Math.round(column.band.freq))
            onCommitted: text => {
                             const value = eq.fieldValue(text, 20, 20000, 1)
                             if (value !== undefined)
                             eq.updateBand(column.index, {
                                               "freq": value
                                           })
                         }
        }
        EntryField {
            objectName: "qField"
            x: 5
            y: 80
            width: 54
            ink: eq.ink
            shown: Number(column.band.q).toFixed(2)
            onCommitted: text => {
                             const value = eq.fieldValue(text, 0.2, 12, 0.01)
                             if (value !== undefined)
                             eq.updateBand(column.index, {
                                               "q": Math.round(value * 100) / 100
                                           })
                         }
        }
        EntryField {
            objectName: "gainField"
            x: 5
            y: 104
            width: 54
            ink: eq.ink
            shown: Number(column.band.gain).toFixed(1)
            onCommitted: text => {
                             const value = eq.fieldValue(text, -18, 18, 0.1)
                             if (value !== undefined)
                             eq.updateBand(column.index, {
                                               "gain": Math.round(value * 10) / 10
                                           })
                         }
        }
        UiSwitch {
            objectName: "bandSwitch"
            x: 13
            y: 134
            checked: !column.band.bypass
            onToggled: eq.updateBand(column.index, {
                                         "bypass": !column.band.bypass
                                     })
        }
    }

    component CornerCard: Rectangle {
        id: card
        required property bool highPass
        readonly property var corner: highPass ? eq.hpf : eq.lpf
        readonly property real shownFreq: corner.freq !== undefined ? corner.freq : highPass ? 20 : 20000

        y: 242
        width: 120
        height: 212
        radius: 12
        color: eq.cardFill
        border.width: 1
        border.color: eq.hair

        Text {
            x: 12
            y: 10
            text: card.highPass ? "高通" : "低通"
            color: eq.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
            font.bold: true
        }
        Picker {
            objectName: "cornerType"
            x: 10
            y: 38
            width: 100
            height: 24
            fontSize: 11
            menuFontSize: 12
            rowHeight: 24
            menuWidth: 120
            menuMaxHeight: 260
            fg: eq.ink
            tip: card.highPass ? "高通类型" : ""
            options: eq.hlpTypes.map((name, i) => ({
                                                       "value": i,
                                                       "label": name
                                                   }))
            value: card.corner.type
            onPicked: value => eq.setFilter(card.highPass, {
                                                "type": value
                                            })
        }
        EntryField {
            objectName: "cornerFreq"
            x: 10
            y: 76
            width: 74
            height: 22
            ink: eq.ink
            shown: String(Math.round(card.shownFreq))
            onCommitted: text => {
                             const value = eq.fieldValue(text, 20, 20000, 1)
                             if (value !== undefined)
                             eq.setFilter(card.highPass, {
                                              "freq": value
                                          })
                         }
        }
        Text {
            x: 90
            y: 76
            height: 22
            verticalAlignment: Text.AlignVCenter
            text: "Hz"
            color: eq.ink
            opacity: 0.7
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 11
        }
        Text {
            x: 12
            y: 118
            height: 21
            verticalAlignment: Text.AlignVCenter
            text: "启用"
            color: eq.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
        UiSwitch {
            objectName: "cornerSwitch"
            x: 70
            y: 118
            checked: card.corner.bypass === false
            onToggled: eq.setFilter(card.highPass, {
                                        "bypass": card.corner.bypass === false
                                    })
        }
    }
}
