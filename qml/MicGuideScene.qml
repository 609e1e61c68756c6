import QtQuick
import "MicGuideScene.js" as Scene
import "Palette.js" as Palette

// The line-array guide's small 3-D venue: dragged it turns (yaw) and tilts (pitch), the wheel
// and the round buttons zoom, a double click puts it back. Drawn at the chart's render scale and
// shown scaled back, and only again when the view, the size or the palette changes. At a render
// scale of 2 the showing at half size smooths the edges, so the drawing itself need not.
Item {
    id: scene

    property real yaw: 0
    property real pitch: 0
    property real zoom: 1.0
    property bool dark: true
    property real renderScale: Window.window ? Math.max(1, Math.min(2, Math.min(
                                                   Window.width / 600, Window.height / 1145))) : 1
    property point dragFrom
    // The texts of the last picture ({text, x, y, size, bold, color}, centred on x, y).
    property var labels: []
    property int labelCount: 0

    function zoomBy(factor) {
        zoom = Math.max(0.55, Math.min(2.4, zoom * factor))
    }

    function reset() {
        yaw = 0
        pitch = 0
        zoom = 1.0
    }

    clip: true

    Canvas {
        id: canvas
        objectName: "guideCanvas"
        width: scene.width * scene.renderScale
        height: scene.height * scene.renderScale
        scale: 1 / scene.renderScale
        transformOrigin: Item.TopLeft
        renderStrategy: Canvas.Immediate
        antialiasing: scene.renderScale < 2

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            if (scene.width < 40 || scene.height < 40)
                return
            ctx.scale(scene.renderScale, scene.renderScale)
            scene.labels = Scene.paint(ctx, scene.width, scene.height, scene.renderScale,
                                       {yaw: scene.yaw, pitch: scene.pitch, zoom: scene.zoom},
                                       scene.dark)
            if (scene.labelCount !== scene.labels.length)
                scene.labelCount = scene.labels.length
        }
        Component.onCompleted: requestPaint()
    }

    component Label: Text {
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 12
    }

    // The texts lie over the picture: their glyphs are laid out by text items, not drawn as
    // outlines into the canvas again as it turns.
    Item {
        anchors.fill: parent
        visible: scene.width >= 40 && scene.height >= 40

        Repeater {
            model: scene.labelCount

            Label {
                objectName: "sceneLabel"
                readonly property var spot: scene.labels[index]
                                            || {text: "", x: 0, y: 0, size: 12,
                                                color: Palette.white}

                x: spot.x - width / 2
                y: spot.y - height / 2
                text: spot.text
                color: spot.color
                font.pixelSize: spot.size
                font.bold: !!spot.bold
            }
        }
        Label {
            objectName: "sceneHint"
            x: 14
            y: 12
            color: Scene.hintColor(scene.dark)
            text: "拖动旋转 · 滚轮缩放 · 双击复位"
        }
        Label {
            objectName: "sceneHint"
            anchors.right: parent.right
            anchors.rightMargin: 14
            y: 12
            color: Scene.hintColor(scene.dark)
            text: "6 只音箱 · 5 个测点"
        }
    }

    onYawChanged: canvas.requestPaint()
    onPitchChanged: canvas.requestPaint()
    onZoomChanged: canvas.requestPaint()
    onDarkChanged: canvas.requestPaint()
    onWidthChanged: canvas.requestPaint()
    onHeightChanged: canvas.requestPaint()
    onRenderScaleChanged: canvas.requestPaint()

    MouseArea {
        objectName: "sceneArea"
        anchors.fill: parent
        preventStealing: true
        onPressed: mouse => scene.dragFrom = Qt.point(mouse.x, mouse.y)
        onPositionChanged: mouse => {
                               let yaw = scene.yaw - 0.006 * (mouse.x - scene.dragFrom.x)
                               if (yaw > Math.PI)
                                   yaw -= 2 * Math.PI
                               else if (yaw < -Math.PI)
                                   yaw += 2 * Math.PI
                               scene.yaw = yaw
                               scene.pitch = Math.max(-1.2, Math.min(
                                                          1.2, scene.pitch + 0.004
                                                          * (mouse.y - scene.dragFrom.y)))
                               scene.dragFrom = Qt.point(mouse.x, mouse.y)
                           }
        onDoubleClicked: scene.reset()
        onWheel: wheel => scene.zoomBy(wheel.angleDelta.y > 0 ? 1.12 : 0.89)
    }

    component ZoomButton: Rectangle {
        property string label
        property real factor

        width: 30
        height: 30
        radius: 15
        color: scene.dark ? Palette.nightGlass : Palette.white80
        border.width: 1
        border.color: scene.dark ? Palette.white25 : Palette.black25

        Text {
            anchors.centerIn: parent
            text: parent.label
            color: scene.dark ? Palette.white : Palette.nightBadge
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 18
            font.bold: true
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: scene.zoomBy(parent.factor)
        }
    }

    Row {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 10
        spacing: 8

        ZoomButton {
            objectName: "zoomOut"
            label: "−"
            factor: 0.85
        }
        ZoomButton {
            objectName: "zoomIn"
            label: "+"
            factor: 1.18
        }
    }
}
