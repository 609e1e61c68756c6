import QtQuick
import "CanvasFont.js" as CanvasFont
import "Palette.js" as Palette

// Where the microphone goes for the fill alignment, over the screen while the bridge's
// fillMicGuideOpen holds: a plan of the stage, both loudspeakers and the measuring point.
Item {
    id: guide

    anchors.fill: parent
    visible: bridge.fillMicGuideOpen
    z: 100

    function close() {
        bridge.fillMicGuideOpen = false
    }

    component GuideText: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        wrapMode: Text.WordWrap
        lineHeight: 1.4
    }

    Rectangle {
        objectName: "veil"
        anchors.fill: parent
        color: Palette.black70

        MouseArea {
            anchors.fill: parent
            onClicked: guide.close()
        }
    }

    UiCard {
        objectName: "guideCard"
        anchors.centerIn: parent
        width: 500
        height: 640
        cornerRadius: 27
        fillColor: bridge.theme.cardSolid
        strokeColor: bridge.theme.line

        MouseArea {
            anchors.fill: parent
        }

        GuideText {
            x: 29
            y: 24
            text: "麦克风怎么摆"
            font.pixelSize: 22
            font.bold: true
        }
        IconButton {
            objectName: "closeButton"
            anchors.right: parent.right
            anchors.rightMargin: 20
            y: 18
            size: 38
            inset: 9
            bordered: false
            icon: "i-del"
            onClicked: guide.close()
        }

        Canvas {
            id: plan
            objectName: "guideScene"
            x: 29
            y: 76
            width: 442
            height: 255

            onPaint: {
                const ctx = getContext("2d")
                const dark = bridge.darkMode
                const ink = dark ? "255,255,255" : "10,10,10"
                ctx.reset()
                ctx.fillStyle = "rgba(74,142,255,0.12)"
                ctx.strokeStyle = "rgba(74,142,255,0.7)"
                ctx.lineWidth = 1.4
                ctx.fillRect(20, 40, 110, 175)
                ctx.strokeRect(20, 40, 110, 175)
                ctx.font = CanvasFont.font(13)
                ctx.textAlign = "center"
                ctx.textBaseline = "middle"
                ctx.fillStyle = "rgba(" + ink + ",0.8)"
                ctx.fillText("舞台", 75, 128)
                ctx.fillText("观众区 →", 330, 24)
                const speaker = (x, y, label, color) => {
                    ctx.fillStyle = color
                    ctx.fillRect(x - 12, y - 16, 24, 32)
                    ctx.fillStyle = "rgba(" + ink + ",0.9)"
                    ctx.fillText(label, x, y + 30)
                }
                speaker(145, 70, "主扩", Palette.ink(dark))
                speaker(250, 170, "补声", dark ? Palette.paleBlue : Palette.accentLight)
                ctx.strokeStyle = "rgba(" + ink + ",0.35)"
                ctx.setLineDash([4, 4])
                ctx.beginPath()
                ctx.moveTo(157, 78)
                ctx.lineTo(330, 215)
                ctx.moveTo(262, 178)
                ctx.lineTo(330, 215)
                ctx.stroke()
                ctx.setLineDash([])
                ctx.fillStyle = "rgb(47,166,108)"
                ctx.beginPath()
                ctx.arc(330, 215, 7, 0, 2 * Math.PI)
                ctx.fill()
                ctx.fillStyle = "rgba(" + ink + ",0.9)"
                ctx.fillText("测量点", 380, 215)
            }
            Connections {
                target: bridge
                function onThemeChanged() {
                    plan.requestPaint()
                }
            }
        }

        GuideText {
            x: 29
            y: 346
            width: 442
            text: "测量麦放在补声箱右下方，两只箱测同一个点。"
        }
        Rectangle {
            x: 29
            y: 392
            width: 442
            height: 1
            color: bridge.theme.line
        }
        GuideText {
            x: 29
            y: 408
            width: 442
            text: "距离主扩过远时，测量不一定可靠。可改用距离估算：距离（米）× 2.94 ms，填入补声延时；再按听感增减 3–5 ms。"
            opacity: 0.8
        }
        PillButton {
            objectName: "gotItButton"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 560
            width: 146
            height: 48
            fontSize: 17
            pad: 14
            text: "知道了"
            onClicked: guide.close()
        }
    }
}
