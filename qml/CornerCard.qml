import QtQuick

// One corner filter of the delivery screen: its frequency (in kHz from 1 kHz, in Hz below), its
// slope (Bypass switches it off) and its filter type.
UiCard {
    id: card

    property string side
    property string title
    property var corners: ({})

    readonly property bool on: !!corners[side + "On"]
    readonly property real hz: corners[side + "Hz"] || 0
    readonly property real slopeDb: corners[side + "SlopeDb"] || 0
    readonly property string type: corners[side + "Type"] || "BW"

    // Bypass, then 6 to 48 dB/oct in steps of 6; a Linkwitz-Riley corner starts at 12.
    function slopeOptions(type) {
        const options = [{value: 0, label: "Bypass", short: "Bypass"}]
        for (let v = type === "LR" ? 12 : 6; v <= 48; v += 6)
            options.push({value: v, label: v + " dB/oct", short: String(v)})
        return options
    }

    // The typed frequency in Hz: in kHz mode a value above 24 is already in Hz.
    function typedHz(value, khz) {
        return khz && value <= 24 ? value * 1000 : value
    }

    width: 232
    height: 128
    cornerRadius: 27
    fillColor: bridge.darkMode ? "#9E131A29" : bridge.theme.cardSolid
    strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

    component Label: Text {
        color: bridge.theme.text70
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 13
    }

    Text {
        x: 20
        y: 14
        text: card.title
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.bold: true
        font.letterSpacing: 1.09
    }

    Row {
        x: 84
        y: 10
        spacing: 6
        opacity: card.on ? 1 : 0.45

        EditField {
            id: frequency
            objectName: "frequencyField"
            property bool khz: false
            width: 84
            height: 30
            enabled: card.on
            shownText: card.hz >= 1000 ? (card.hz / 1000).toFixed(1) : String(Math.round(card.hz))
            onRefreshed: khz = card.hz >= 1000
            onEdited: {
                const hz = card.typedHz(number(), khz)
                if (hz >= 10 && hz <= 24000)
                    bridge.updateCorner(card.side, hz, card.slopeDb)
            }
        }
        Text {
            objectName: "unit"
            anchors.verticalCenter: parent.verticalCenter
            text: frequency.khz ? "kHz" : "Hz"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
        }
    }

    Label {
        x: 20
        y: 56
        text: "斜率"
    }
    Picker {
        objectName: "slopePicker"
        x: 20
        y: 78
        width: 92
        height: 30
        options: card.slopeOptions(card.type)
        value: card.slopeDb
        suffix: card.on ? "/oct" : ""
        onPicked: v => bridge.updateCorner(card.side, card.hz, v)
    }

    Label {
        x: 124
        y: 56
        text: "类型"
    }
    Picker {
        objectName: "typePicker"
        x: 124
        y: 78
        width: 88
        height: 30
        options: [{value: "BW", label: "BW · Butterworth", short: "BW"},
            {value: "LR", label: "LR · Linkwitz-Riley", short: "LR"},
            {value: "BS", label: "BS · Bessel", short: "BS"}]
        value: card.type
        menuWidth: 180
        onPicked: v => bridge.updateCornerType(card.side, v)
    }
}
