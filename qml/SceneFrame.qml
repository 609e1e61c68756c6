import QtQuick

// A small 3-D picture on a canvas that the hand turns and zooms: dragging turns it (yaw, wrapped
// into -pi..pi) and tilts it (pitch, within +-1.2 rad), the wheel and the two round buttons zoom
// (0.55 to 2.4 times), a double click puts it back. The canvas is drawn at the render scale and
// shown scaled back; `painter(ctx, width, height)` draws in the item's own units, and only again
// when the view, the size or the render scale changes, or on `repaint()`. `underPainter`, when
// set, draws a second canvas beneath without antialiasing: the raster engine smooths every edge
// pixel by pixel, which costs most on large fills and long faint lines whose edges no one sees.
// At a render scale of 2 the upper canvas goes without it too: shown at half its size, four of
// its pixels make one, which smooths every edge as well, for a fraction of the cost.
// Children of a frame lie over the canvases and under the zoom buttons.
Item {
    id: frame

    property real yaw: 0
    property real pitch: 0
    property real zoom: 1.0
    property bool dark: true
    property real renderScale: Window.window ? Math.max(1, Math.min(2, Math.min(
                                                   Window.width / 600, Window.height / 1145))) : 1
    // Whether there is room to draw at all.
    property bool paintable: width >= 40 && height >= 40
    property var painter: null
    property var underPainter: null
    property string canvasName
    property point dragFrom
    default property alias overlay: overlay.data

    function zoomBy(factor) {
        zoom = Math.max(0.55, Math.min(2.4, zoom * factor))
    }

    function reset() {
        yaw = 0
        pitch = 0
        zoom = 1.0
    }

    function repaint() {
        canvas.requestPaint()
        if (underPainter)
            under.requestPaint()
    }

    clip: true

    component Layer: Canvas {
        property var painter

        width: frame.width * frame.renderScale
        height: frame.height * frame.renderScale
        scale: 1 / frame.renderScale
        transformOrigin: Item.TopLeft
        renderStrategy: Canvas.Immediate

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            if (!frame.paintable || !painter)
                return
            ctx.scale(frame.renderScale, frame.renderScale)
            painter(ctx, frame.width, frame.height)
        }
        Component.onCompleted: requestPaint()
    }

    Layer {
        id: under
        visible: !!painter
        antialiasing: false
        painter: frame.underPainter
    }
    Layer {
        id: canvas
        objectName: frame.canvasName
        antialiasing: frame.renderScale < 2
        painter: frame.painter
    }

    Item {
        id: overlay
        anchors.fill: parent
    }

    onYawChanged: repaint()
    onPitchChanged: repaint()
    onZoomChanged: repaint()
    onWidthChanged: repaint()
    onHeightChanged: repaint()
    onRenderScaleChanged: repaint()

    MouseArea {
        objectName: "sceneArea"
        anchors.fill: parent
        preventStealing: true
        onPressed: mouse => frame.dragFrom = Qt.point(mouse.x, mouse.y)
        onPositionChanged: mouse => {
                               let yaw = frame.yaw - 0.006 * (mouse.x - frame.dragFrom.x)
                               if (yaw > Math.PI)
                                   yaw -= 2 * Math.PI
                               else if (yaw < -Math.PI)
                                   yaw += 2 * Math.PI
                               frame.yaw = yaw
                               frame.pitch = Math.max(-1.2, Math.min(
                                                          1.2, frame.pitch + 0.004
                                                          * (mouse.y - frame.dragFrom.y)))
                               frame.dragFrom = Qt.point(mouse.x, mouse.y)
                           }
        onDoubleClicked: frame.reset()
        onWheel: wheel => frame.zoomBy(wheel.angleDelta.y > 0 ? 1.12 : 0.89)
    }

    component ZoomButton: Rectangle {
        property string label
        property real factor

        width: 30
        height: 30
        radius: 15
        color: frame.dark ? "#99111318" : "#CCFFFFFF"
        border.width: 1
        border.color: frame.dark ? "#40FFFFFF" : "#40000000"

        Text {
            anchors.centerIn: parent
            text: parent.label
            color: frame.dark ? "#FFFFFF" : "#101216"
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 18
            font.bold: true
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: frame.zoomBy(parent.factor)
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
