import QtQuick

// The subwoofer's EQ bands as a table: number, frequency, Q and gain fields and an on/off
// switch. A field sends its band as soon as its text is a number within range (the other two
// values unchanged); it shows the bridge's value again when it is left, and follows every change
// while it is not being typed in.
Item {
    id: table

    readonly property var bands: bridge.subEqBands
    readonly property int count: bands.length

    // Up to `digits` decimals, trailing zeros dropped.
    function shortNumber(value, digits) {
        return String(Number(value.toFixed(digits)))
    }

    function gainText(value) {
        return (value > 0 ? "+" : "") + shortNumber(value, 1)
    }

    onCountChanged: list.contentY = 0

    component Header: Text {
        color: bridge.theme.text50
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 13
    }

    Header {
        x: 64
        text: "频率"
    }
    Header {
        x: 176
        text: "Q 值"
    }
    Header {
        x: 288
        text: "增益"
    }

    Text {
        objectName: "noEq"
        y: 40
        visible: table.count === 0
        text: "这段曲线不需要 EQ"
        color: bridge.theme.text70
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
    }

    ListView {
        id: list
        objectName: "eqList"
        y: 26
        width: parent.width
        height: parent.height - 26
        clip: true
        interactive: false
        model: table.count

        delegate: Item {
            id: row
            required property int index
            readonly property var band: table.bands[index]
                                        || ({freq: 0, q: 0, gain: 0, enabled: false})
            objectName: "eqRow" + index
            width: list.width
            height: 49

            function send(freq, q, gain) {
                bridge.subUpdateEq(index, freq, q, gain)
            }

            Row {
                anchors.verticalCenter: parent.verticalCenter
                spacing: 16
                opacity: row.band.enabled ? 1 : 0.45

                Text {
                    width: 32
                    anchors.verticalCenter: parent.verticalCenter
                    text: row.index + 1
                    color: bridge.theme.text
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 15
                }
                BandField {
                    objectName: "freqField"
                    shownText: table.shortNumber(row.band.freq, 1)
                    low: 20
                    high: 300
                    onAccepted: v => row.send(v, row.band.q, row.band.gain)
                }
                BandField {
                    objectName: "qField"
                    shownText: table.shortNumber(row.band.q, 3)
                    low: 0.2
                    high: 10
                    onAccepted: v => row.send(row.band.freq, v, row.band.gain)
                }
                BandField {
                    objectName: "gainField"
                    shownText: table.gainText(row.band.gain)
                    low: -18
                    high: 18
                    onAccepted: v => row.send(row.band.freq, row.band.q, v)
                }
            }
            UiSwitch {
                objectName: "bandSwitch"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                checked: row.band.enabled
                onToggled: bridge.subSetEqEnabled(row.index, !row.band.enabled)
            }
        }
    }

    WheelHandler {
        target: null
        onWheel: event => list.contentY = Math.max(0, Math.min(
                                                       list.contentHeight - list.height,
                                                       list.contentY - event.angleDelta.y / 120 * 36))
    }

    component BandField: EditField {
        property real low
        property real high

        signal accepted(real value)

        width: 96
        height: 34
        onEdited: {
            const value = number()
            if (isFinite(value) && value >= low && value <= high)
                accepted(value)
        }
    }
}
