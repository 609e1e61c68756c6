import QtQuick

// Shown while the EQ is computed: a bar that keeps creeping between the engine's progress
// reports and never reaches the end before the result, and a scrolling listing that only says
// that work goes on. Entering the screen starts a computation of the measured curve.
Item {
    id: page

    // The part of the bar shown while computing.
    property real shown: 0.02

    width: 600
    height: 1145

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {}

    TopBar {
        showProjectName: true
    }

    Connections {
        target: bridge
        function onComputingChanged() {
            if (bridge.computing)
                page.shown = 0.02
        }
    }

    Timer {
        objectName: "creepTimer"
        interval: 140
        repeat: true
        running: bridge.computing
        onTriggered: page.shown = Math.min(0.95, Math.max(bridge.computeProgress,
                                                          page.shown + 0.012))
    }

    Timer {
        interval: 160
        running: true
        onTriggered: {
            if (bridge.measuredCurve.length > 0)
                bridge.startCompute()
        }
    }

    Text {
        objectName: "title"
        x: 60
        y: 135
        text: "正在算参数"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 44
        font.bold: true
    }

    Text {
        x: 60
        y: 205
        text: "AI正在匹配算法 · 拟合滤波器 · 校验结果"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
    }

    Rectangle {
        objectName: "progressTrack"
        x: 60
        y: 250
        width: 480
        height: 5
        radius: 3
        color: bridge.theme.line25

        Rectangle {
            objectName: "progressFill"
            height: parent.height
            radius: parent.radius
            width: bridge.computing ? page.shown * parent.width : parent.width
            color: bridge.theme.text

            Behavior on width {
                enabled: bridge.computing
                NumberAnimation {
                    duration: 180
                    easing.type: Easing.OutCubic
                }
            }
        }
    }

    GlowCard {
        objectName: "listingCard"
        x: 60
        y: 290
        width: 480
        height: 709

        Item {
            anchors.fill: parent
            anchors.margins: 27
            clip: true

            Column {
                id: listing
                objectName: "listing"

                // One listing height scrolled per turn.
                property real phase: 0

                y: -phase * height / 2

                Repeater {
                    model: 2

                    Text {
                        text: page.listingText
                        color: bridge.theme.text50
                        font.family: "monospace"
                        font.pixelSize: 13
                        lineHeight: 1.25
                    }
                }

                SequentialAnimation on phase {
                    PauseAnimation {
                        duration: 120
                    }
                    NumberAnimation {
                        loops: Animation.Infinite
                        from: 0
                        to: 1
                        duration: 2400
                        easing.type: Easing.Linear
                    }
                }
            }
        }
    }

    // Decoration only: the lines carry no meaning.
    readonly property string listingText: {
        const words = ["scan", "fit", "peak", "notch", "shelf", "corner", "weight", "check",
                       "target", "smooth", "grid", "band"]
        const lines = []
        for (let i = 0; i < 40; ++i) {
            const a = words[i % words.length]
            const b = words[(i * 7 + 3) % words.length]
            const value = ((i * 37) % 97 / 7.0).toFixed(2)
            lines.push(("00" + i).slice(-3) + "  " + a + "." + b + "(" + value + ")  ok")
        }
        return lines.join("\n")
    }
}
