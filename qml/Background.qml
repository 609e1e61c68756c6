import QtQuick
import QtQuick.Window
import Sonetra 1.0

// The decoration behind a screen: large ring images turning slowly (one turn in 110 s forwards
// or 160 s backwards), and a dot grid. The rim of the largest ring travels about 18 px a second,
// a fraction of a pixel per display frame: the rings turn in the slow clock's steps, eight a
// second (about 2 px at that rim), each a new frame, and not at all while the window is hidden
// or minimised. A run started with "--shot" keeps them still, so that screenshots repeat.
Item {
    id: background

    property bool blue: false
    property bool showDots: true
    property bool approvedHome: false
    property string variant: "default"

    readonly property bool still: Qt.application.arguments.indexOf("--shot") >= 0
    readonly property bool shown: Window.visibility !== Window.Hidden
                                  && Window.visibility !== Window.Minimized
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

    StepClock {
        id: clock
        objectName: "ringClock"
        running: !background.still && background.shown
    }

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
            rotation: {
                const turn = layer.modelData.turn
                if (turn === 0)
                    return 0
                const degrees = 360 * clock.seconds / (turn > 0 ? 110 : 160) % 360
                return turn > 0 ? degrees : 360 - degrees
            }
        }
    }
}
