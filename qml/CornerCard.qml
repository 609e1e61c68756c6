import QtQuick
import "CornerOptions.js" as CornerOptions
import "Palette.js" as Palette

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

    width: 232
    height: 128
    cornerRadius: 27
    fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
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
            shownText: CornerOptions.frequencyText(card.hz)
            onRefreshed: khz = card.hz >= 1000
            onEdited: {
                const hz = CornerOptions.typedHz(number(), khz)
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
        options: CornerOptions.slopeOptions(card.type)
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
        options: CornerOptions.typeOptions
        value: card.type
        menuWidth: 180
        onPicked: v => bridge.updateCornerType(card.side, v)
    }
}
