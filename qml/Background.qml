import QtQuick

// The decoration behind a screen: large ring images turning slowly (one turn in 110 s forwards
// or 160 s backwards), and a dot grid. A run started with "--shot" keeps them still, so that
// screenshots repeat.
Item {
    id: background

    property bool blue: false
    property bool showDots: true
    property bool approvedHome: false
    property string variant: "default"

    readonly property bool still: Qt.application.arguments.indexOf("--shot") >= 0
    readonly property color tint: blue ? "transparent" : bridge.theme.icon

    // One entry per image: key, size, position, opacity, turn (1 forwards, -1 backwards, 0 none).
    readonly property var layers: {
        const w = width, h = height
        if (approvedHome)
            return [
                {key: "s-rings", size: 464, x: -176, y: h - 277, opacity: 0.14, turn: 1},
                {key: "s-moireg-fine", size: 314, x: w - 209, y: -119, opacity: 0.30, turn: -1}
            ]
        if (variant === "measuring")
            return [
                {key: "s-rings", size: 436, x: w - 305, y: h - 294, opacity: 0.24, turn: 1},
                {key: "s-rings", size: 273, x: -90, y: -79, opacity: 0.16, turn: -1},
                {key: "s-moireg-fine", size: 273, x: -90, y: -79, opacity: 0.16, turn: -1}
            ]
        const list = [
            {key: "s-rings", size: 627, x: -286, y: h - 273, opacity: blue ? 0.14 : 0.12, turn: 1},
            {key: "s-rings", size: 409, x: w - 218, y: -232, opacity: blue ? 0.25 : 0.18, turn: -1}
        ]
        if (showDots)
            list.push({key: "s-dotgrid", size: 314, x: w - 245, y: h - 409, opacity: 0.10, turn: 0})
        return list
    }

    anchors.fill: parent

    Repeater {
        model: background.layers

        UiImage {
            id: layer
            required property var modelData
            objectName: "background-" + modelData.key
            x: modelData.x
            y: modelData.y
            width: modelData.size
            height: modelData.size
            opacity: modelData.opacity
            source: "qrc:/icons/" + modelData.key + ".svg"
            tint: background.variant === "measuring" && !background.approvedHome
                  ? bridge.theme.icon : background.tint
            oversample: 2

            NumberAnimation on rotation {
                running: layer.modelData.turn !== 0 && !background.still
                from: layer.modelData.turn > 0 ? 0 : 360
                to: layer.modelData.turn > 0 ? 360 : 0
                duration: layer.modelData.turn > 0 ? 110000 : 160000
                loops: Animation.Infinite
            }
        }
    }
}
