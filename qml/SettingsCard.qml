import QtQuick

// A card of the settings screen: its icon and title at the top, then rows of one label and one
// picker (or other control) at the right end, with rules between them.
GlowCard {
    id: card

    property string title
    property string icon
    default property alias rows: column.data

    width: 480
    color: bridge.theme.card
    borderColor: bridge.darkMode ? "transparent" : bridge.theme.line

    UiImage {
        x: 25
        y: 15
        width: 46
        height: 46
        source: "qrc:/icons/" + card.icon + ".svg"
        tint: bridge.theme.icon
    }

    Text {
        x: 87
        y: 22
        text: card.title
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 18
        font.bold: true
    }

    Column {
        id: column
        x: 25
        y: 72
        width: parent.width - 50
    }
}
