import QtQuick
import "CornerOptions.js" as CornerOptions
import "Palette.js" as Palette

// One corner of the subwoofer channel: its frequency (in kHz from 1 kHz, in Hz below; only while
// the corner is on), its slope (Bypass switches it off) and its filter type. Edits go out as
// signals; the owner decides what the card shows next.
GlowCard {
    id: card

    property string title: "HPF"
    property real freqHz: 40
    property string kind: "BW"
    property int slopeDb: 48

    signal freqEdited(real hz)
    signal slopeEdited(int slopeDb)
    signal typeEdited(string kind)

    width: 233
    height: 104
    radius: 27
    glowVisible: false
    color: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
    borderColor: bridge.darkMode ? "transparent" : bridge.theme.line

    component Label: Text {
        color: bridge.theme.text70
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 13
    }

    Text {
        x: 20
        y: 12
        text: card.title
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.bold: true
        font.letterSpacing: 1.09
    }

    Row {
        x: 84
        y: 8
        spacing: 6
        opacity: card.slopeDb > 0 ? 1 : 0.45

        EditField {
            id: frequency
            objectName: "frequencyField"
            property bool khz: false
            width: 84
            height: 28
            enabled: card.slopeDb > 0
            shownText: CornerOptions.frequencyText(card.freqHz)
            onRefreshed: khz = card.freqHz >= 1000
            onEdited: {
                const hz = CornerOptions.typedHz(number(), khz)
                if (hz >= 10 && hz <= 24000)
                    card.freqEdited(hz)
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
        y: 44
        text: "斜率"
    }
    Picker {
        objectName: "slopePicker"
        x: 20
        y: 64
        width: 92
        height: 28
        options: CornerOptions.slopeOptions(card.kind)
        value: card.slopeDb
        suffix: card.slopeDb > 0 ? "/oct" : ""
        onPicked: v => card.slopeEdited(v)
    }

    Label {
        x: 124
        y: 44
        text: "类型"
    }
    Picker {
        objectName: "typePicker"
        x: 124
        y: 64
        width: 88
        height: 28
        options: CornerOptions.typeOptions
        value: card.kind
        menuWidth: 180
        onPicked: v => card.typeEdited(v)
    }
}
