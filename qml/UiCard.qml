import QtQuick

// A rounded card in the theme's card colour; a 1-pixel border only when the stroke colour shows.
Rectangle {
    property real cornerRadius: 27
    property color fillColor: bridge.theme.card
    property color strokeColor: "transparent"
    default property alias body: content.data

    radius: cornerRadius
    color: fillColor
    border.width: strokeColor.a > 0 ? 1 : 0
    border.color: strokeColor

    Item {
        id: content
        anchors.fill: parent
    }
}
