import QtQuick

// A card with a faint glow around it and a softer one inside it.
Item {
    id: card

    property color color: bridge.theme.card
    property color borderColor: "transparent"
    property real radius: 27
    property real glowStrength: 1.0
    property real glowOutset: 74
    property bool glowVisible: true
    property bool innerGlow: true
    default property alias body: content.data

    Glow {
        anchors.fill: parent
        anchors.margins: -card.glowOutset
        visible: card.glowVisible
        glowColor: bridge.theme.glow
        strength: 0.06
    }

    Rectangle {
        anchors.fill: parent
        radius: card.radius
        color: card.color
        border.width: card.borderColor.a > 0 ? 1 : 0
        border.color: card.borderColor
        clip: true

        InnerGlow {
            anchors.fill: parent
            visible: card.innerGlow
            glowColor: bridge.theme.glow
            strength: card.glowStrength * 0.45
            radius: card.radius
        }

        Item {
            id: content
            anchors.fill: parent
        }
    }
}
