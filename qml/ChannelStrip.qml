import QtQuick
import QtQuick.Controls
import "Palette.js" as Palette

// One channel of the processor panel: route dots (outputs), EQ thumbnail, delay, polarity, mute,
// live meter, fader, gain and the EQ upload. The strip shows its own copies of the channel's
// values, taken again from the client's channel map whenever that changes and after every write,
// so a write the processor refused does not stay on screen. Controls send only while connected,
// through `runWrite` (the panel's wrapper around a write, which then has the strip sync).
Item {
    id: strip

    property bool isOut: false
    property int idx: 0
    property var channel: ({})
    property real level: 0
    property bool connected: false
    property var demoCurve: null
    required property var runWrite

    // The copies shown.
    property bool muted: false
    property bool inverted: false
    property real gain: 0
    property real delayMs: 0
    property var routes: [false, false, false, false]
    readonly property real faderPosition: Math.max(0, Math.min(1, (gain + 40) / 55))
    property bool dragging: false

    signal openEq
    signal uploadEq
    signal needConnection

    readonly property color ink: bridge.theme.text
    readonly property string gainText: Math.abs(gain) < 0.05 ? "0.0" : gain.toFixed(1)

    function sync() {
        if (!channel || channel.gain === undefined)
            return
        muted = channel.muted
        inverted = channel.inverted
        if (!dragging)
            gain = channel.gain
        delayMs = Number(channel.delay)
        if (channel.routes)
            routes = channel.routes
    }

    // Runs one final write while connected, then shows what the client holds again.
    function send(action) {
        runWrite(action, sync)
    }

    // The fader's gain in the 0.1 dB steps the strip shows: the processor gets the value read.
    function sendLiveGain(db) {
        gain = Math.max(-40, Math.min(15, Math.round(db * 10) / 10))
        if (connected)
            bridge.processor.setChannelGainLive(isOut, idx, gain)
    }

    // Empty or negative means no delay; a typo changes nothing.
    function commitDelay(text) {
        const trimmed = text.trim()
        const value = trimmed === "" ? 0 : Number(trimmed)
        if (!isFinite(value))
            return
        delayMs = Math.min(2000, Math.max(0, value))
        send(() => bridge.processor.setChannelDelay(isOut, idx, delayMs))
    }

    function commitGain(text) {
        const value = Number(text.trim())
        if (text.trim() === "" || !isFinite(value))
            return
        gain = Math.max(-40, Math.min(15, Math.round(value * 10) / 10))
        send(() => bridge.processor.setChannelGain(isOut, idx, gain))
    }

    onChannelChanged: sync()
    Component.onCompleted: sync()

    implicitWidth: 44
    implicitHeight: 358

    Text {
        width: parent.width
        height: 16
        horizontalAlignment: Text.AlignHCenter
        text: strip.channel.name || ""
        color: strip.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 12
        font.bold: true
    }

    Row {
        objectName: "routes"
        visible: strip.isOut
        y: 19
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 3
        Repeater {
            model: 4
            Rectangle {
                required property int index
                objectName: "route" + index
                width: 8
                height: 8
                radius: 4
                color: strip.routes[index] ? Palette.glowBlue : "transparent"
                border.width: 1
                border.color: strip.routes[index] ? Palette.glowBlue
                                                  : Qt.rgba(strip.ink.r, strip.ink.g, strip.ink.b, 0.35)
                MouseArea {
                    anchors.fill: parent
                    anchors.margins: -2
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        if (!strip.connected) {
                            strip.needConnection()
                            return
                        }
                        strip.send(() => bridge.processor.setRoute(strip.idx, parent.index,
                                                                   !strip.routes[parent.index]))
                    }
                }
            }
        }
    }

    Canvas {
        id: thumbnail
        objectName: "thumbnail"
        x: 1
        y: 32
        width: 42
        height: 28
        readonly property var points: strip.demoCurve || strip.channel.peq || []
        onPointsChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.fillStyle = Qt.rgba(strip.ink.r, strip.ink.g, strip.ink.b, 0.05)
            ctx.fillRect(0, 0, width, height)
            ctx.strokeStyle = Qt.rgba(strip.ink.r, strip.ink.g, strip.ink.b, 0.15)
            ctx.lineWidth = 1
            ctx.beginPath()
            ctx.moveTo(0, height / 2)
            ctx.lineTo(width, height / 2)
            ctx.stroke()
            let values = points
            if (values.length < 2)
                values = [0.5, 0.5, 0.55, 0.7, 0.55, 0.5, 0.5]
            ctx.strokeStyle = strip.demoCurve ? Palette.amber : Palette.glowBlue
            ctx.lineWidth = 1.5
            ctx.beginPath()
            for (let i = 0; i < values.length; ++i) {
                const x = i / (values.length - 1) * width
                const y = (1 - values[i]) * (height - 4) + 2
                if (i === 0)
                    ctx.moveTo(x, y)
                else
                    ctx.lineTo(x, y)
            }
            ctx.stroke()
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: strip.openEq()
        }
    }

    EntryField {
        objectName: "delayField"
        x: 1
        y: 64
        width: 42
        fontSize: 10
        shown: strip.delayMs.toFixed(2)
        onCommitted: text => strip.commitDelay(text)
    }

    Row {
        y: 86
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 2
        IconButton {
            objectName: "polarityButton"
            size: 20
            inset: 4
            icon: strip.inverted ? "s-minus" : "s-plus"
            iconColor: strip.inverted ? Palette.amber : bridge.theme.icon
            onClicked: {
                strip.inverted = !strip.inverted
                strip.send(() => bridge.processor.setChannelPhase(strip.isOut, strip.idx,
                                                                  !strip.inverted))
            }
        }
        IconButton {
            objectName: "muteButton"
            size: 20
            inset: 4
            icon: "i-snt-mute"
            iconColor: strip.muted ? Palette.red : bridge.theme.icon
            borderColor: strip.muted ? Palette.red : bridge.theme.line25
            onClicked: {
                strip.muted = !strip.muted
                strip.send(() => bridge.processor.setChannelMute(strip.isOut, strip.idx,
                                                                 strip.muted))
            }
        }
    }

    // The meter: 0 dBFS at the top, a mark for +4 dBu at -16 dBFS (44 of 60 dB).
    Rectangle {
        id: meter
        objectName: "meter"
        x: 3
        y: 112
        width: 6
        height: 92
        color: Qt.rgba(strip.ink.r, strip.ink.g, strip.ink.b, 0.08)
        Rectangle {
            objectName: "meterFill"
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.height * Math.max(0, Math.min(1, strip.level))
            color: strip.level > 44 / 60 ? Palette.amber : Palette.green
        }
        Rectangle {
            y: parent.height * (1 - 44 / 60)
            x: -2
            width: parent.width + 4
            height: 1
            color: strip.ink
            opacity: 0.6
        }
    }

    // The fader: a drag moves it by the pointer's travel (no jump to the pointer); a click steps
    // the gain by 0.1 dB towards the click.
    Item {
        id: fader
        objectName: "fader"
        x: 16
        y: 112
        width: 26
        height: 200
        readonly property real travel: height - 14

        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 3
            height: parent.height
            radius: 1.5
            color: Qt.rgba(strip.ink.r, strip.ink.g, strip.ink.b, 0.2)
        }
        Rectangle {
            id: knob
            objectName: "knob"
            anchors.horizontalCenter: parent.horizontalCenter
            y: (1 - strip.faderPosition) * fader.travel
            width: 22
            height: 14
            radius: 3
            color: strip.muted ? Palette.grey : Palette.glowBlue
            border.width: 1
            border.color: Palette.white
        }
        MouseArea {
            anchors.fill: parent
            preventStealing: true
            cursorShape: Qt.PointingHandCursor
            property real startY
            property real startPosition
            onPressed: mouse => {
                           startY = mouse.y
                           startPosition = strip.faderPosition
                           strip.dragging = false
                       }
            onPositionChanged: mouse => {
                                   if (!strip.dragging && Math.abs(mouse.y - startY) > 2)
                                   strip.dragging = true
                                   if (!strip.dragging)
                                   return
                                   const position = Math.max(0, Math.min(1, startPosition
                                                                         - (mouse.y - startY) / fader.travel))
                                   strip.sendLiveGain(-40 + 55 * position)
                               }
            onReleased: mouse => {
                            if (strip.dragging) {
                                strip.sendLiveGain(strip.gain)
                                strip.dragging = false
                                return
                            }
                            const above = mouse.y < knob.y + knob.height / 2
                            strip.sendLiveGain(Math.round((strip.gain + (above ? 0.1 : -0.1)) * 10) / 10)
                        }
        }
    }

    EntryField {
        objectName: "gainField"
        x: 1
        y: 316
        width: 42
        fontSize: 10
        shown: strip.gainText
        onCommitted: text => strip.commitGain(text)
    }

    Rectangle {
        objectName: "uploadButton"
        x: 1
        y: 338
        width: 42
        height: 20
        radius: 10
        color: uploadArea.containsMouse ? bridge.theme.line06 : "transparent"
        border.width: 1
        border.color: bridge.theme.line25
        Text {
            anchors.centerIn: parent
            text: "上传 EQ"
            color: strip.ink
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 9
        }
        MouseArea {
            id: uploadArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: strip.uploadEq()
        }
    }
}
