import QtQuick

// The EQ bands of the delivery screen: one row per band with its frequency, Q and gain and an
// on/off switch, and a button that adds a band. A number goes to the bridge only when it is
// within the band's range. A change in the number of bands scrolls back to the top.
Item {
    id: list

    property var bands: []

    // Shown numbers: at most 1 decimal for frequency and gain, 3 for Q, no trailing zeros, and
    // a "+" before a positive gain.
    function trimmed(value, decimals) {
        return String(Number(Number(value).toFixed(decimals)))
    }
    function gainText(gain) {
        const text = trimmed(gain, 1)
        return Number(text) > 0 ? "+" + text : text
    }

    // Sends band `index` with one value replaced, when that value is a number inside its range.
    function send(index, key, value) {
        const ranges = {freq: [20, 20000], q: [0.1, 20], gain: [-18, 18]}
        if (!isFinite(value) || value < ranges[key][0] || value > ranges[key][1])
            return
        const band = bands[index]
        const next = {freq: band.freq, q: band.q, gain: band.gain}
        next[key] = value
        bridge.updateEqBand(index, next.freq, next.q, next.gain)
    }

    Text {
        objectName: "bandHeader"
        anchors.verticalCenter: addButton.verticalCenter
        text: "EQ · " + list.bands.length + " 段"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.bold: true
    }

    IconButton {
        id: addButton
        objectName: "addBandButton"
        anchors.right: parent.right
        size: 34
        icon: "s-plus"
        tip: "增加频点"
        onClicked: bridge.addEqBand()
    }

    Repeater {
        model: [{title: "频率", x: 44}, {title: "Q 值", x: 152}, {title: "增益", x: 260}]

        Text {
            required property var modelData
            x: modelData.x
            y: 44
            width: 96
            horizontalAlignment: Text.AlignHCenter
            text: modelData.title
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
    }

    ListView {
        id: rows
        objectName: "bandRows"
        y: 68
        width: parent.width
        height: parent.height - y - 22
        clip: true
        spacing: 8
        boundsBehavior: Flickable.StopAtBounds
        // The count only, so that an edit keeps the rows (and a focused field) in place.
        model: list.bands.length
        onCountChanged: contentY = originY

        delegate: Item {
            id: bandRow
            required property int index
            readonly property var band: list.bands[index] || {freq: 0, q: 0, gain: 0}

            objectName: "bandRow" + index
            width: rows.width
            height: 34

            Text {
                width: 32
                anchors.verticalCenter: parent.verticalCenter
                text: bandRow.index + 1
                color: bridge.theme.text70
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 14
            }
            EditField {
                objectName: "freqField"
                x: 44
                width: 96
                shownText: list.trimmed(bandRow.band.freq, 1)
                onEdited: list.send(bandRow.index, "freq", number())
            }
            EditField {
                objectName: "qField"
                x: 152
                width: 96
                shownText: list.trimmed(bandRow.band.q, 3)
                onEdited: list.send(bandRow.index, "q", number())
            }
            EditField {
                objectName: "gainField"
                x: 260
                width: 96
                shownText: list.gainText(bandRow.band.gain)
                onEdited: list.send(bandRow.index, "gain", number())
            }
            UiSwitch {
                objectName: "bandSwitch"
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                checked: !!bandRow.band.enabled
                onToggled: bridge.setEqBandEnabled(bandRow.index, !bandRow.band.enabled)
            }
        }

        // 36 px per wheel step of 120.
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.NoButton
            onWheel: wheel => {
                         const top = rows.originY
                         const bottom = Math.max(top, top + rows.contentHeight - rows.height)
                         rows.contentY = Math.max(top, Math.min(bottom, rows.contentY
                                                                - wheel.angleDelta.y / 120 * 36))
                     }
        }
    }

    UiImage {
        objectName: "moreCaret"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        width: 18
        height: 18
        source: "qrc:/icons/s-caret.svg"
        tint: bridge.theme.text
        opacity: rows.atYEnd ? 0.25 : 0.70

        Behavior on opacity {
            NumberAnimation {
                duration: 200
            }
        }
    }
}
