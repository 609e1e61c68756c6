import QtQuick
import "CanvasFont.js" as CanvasFont
import "Palette.js" as Palette

// The two captured pulses of the fill alignment as bars around their peaks, with the ruler and
// the delay between them once both are in. Drawn in a 360 x 228 design space stretched to the
// item, at up to twice the pixel density when the window is enlarged.
Item {
    id: view

    property var mainPulse: []
    property var fillPulse: []
    property real mainX: 0.33
    property real fillX: 0.72
    property bool fillVisible: false
    property bool showRuler: false
    property real delayMs: 0
    readonly property bool dark: bridge.darkMode
    property real renderScale: Window.window ? Math.max(1, Math.min(2, Math.min(
                                                   Window.width / 600, Window.height / 1145))) : 1

    readonly property var colors: dark ? {main: Palette.white, fill: Palette.paleBlue,
                                          axis: Palette.white18, ruler: Palette.white70,
                                          ticks: Palette.white45}
                                       : {main: Palette.nearBlack, fill: Palette.accentLight,
                                          axis: Palette.black24, ruler: Palette.black70,
                                          ticks: Palette.black45}

    // Bars of one pulse (pairs of time in ms and amplitude) about the design x `centre`.
    function drawPulse(ctx, pulse, centre, color) {
        if (!pulse || pulse.length < 2)
            return
        ctx.fillStyle = color
        for (let i = 0; i + 1 < pulse.length; i += 2) {
            const t = pulse[i], a = pulse[i + 1]
            if (!isFinite(t) || !isFinite(a))
                continue
            const amp = Math.max(0, Math.min(1, a))
            const x = centre + t / 2.5 * 10
            ctx.fillRect(x - 0.45, 100 - 42 * amp, 0.9, 58 * amp)
        }
    }

    function drawRuler(ctx, from, to) {
        ctx.strokeStyle = colors.ticks
        ctx.lineWidth = 1
        ctx.beginPath()
        ctx.moveTo(from, 190)
        ctx.lineTo(to, 190)
        for (const x of [from, to]) {
            ctx.moveTo(x, 182)
            ctx.lineTo(x, 198)
        }
        ctx.stroke()
    }

    // Texts are drawn in the item's own pixels so that they keep their shape when stretched.
    function drawText(ctx, text, x, y, size, color) {
        ctx.fillStyle = color
        ctx.font = CanvasFont.font(size, true)
        ctx.textAlign = "center"
        ctx.textBaseline = "middle"
        ctx.fillText(text, x, y)
    }

    function paint(ctx) {
        const sx = width / 360, sy = height / 228
        const mainCentre = 360 * mainX, fillCentre = 360 * fillX
        ctx.save()
        ctx.scale(sx, sy)
        ctx.strokeStyle = colors.axis
        ctx.lineWidth = 1
        ctx.beginPath()
        ctx.moveTo(20, 100)
        ctx.lineTo(340, 100)
        ctx.stroke()
        drawPulse(ctx, mainPulse, mainCentre, colors.main)
        if (fillVisible)
            drawPulse(ctx, fillPulse, fillCentre, colors.fill)
        if (fillVisible && showRuler)
            drawRuler(ctx, mainCentre, fillCentre)
        ctx.restore()
        drawText(ctx, "主扩", mainCentre * sx, 18 / 228 * height, 12, colors.main)
        if (fillVisible)
            drawText(ctx, "补声", fillCentre * sx, 18 / 228 * height, 12, colors.fill)
        if (fillVisible && showRuler)
            drawText(ctx, Math.abs(delayMs).toFixed(1) + " ms", (mainCentre + fillCentre) / 2 * sx,
                     218 / 228 * height, 14, colors.ruler)
    }

    Canvas {
        id: canvas
        objectName: "pulseCanvas"
        width: view.width * view.renderScale
        height: view.height * view.renderScale
        scale: 1 / view.renderScale
        transformOrigin: Item.TopLeft
        renderStrategy: Canvas.Immediate

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.scale(view.renderScale, view.renderScale)
            view.paint(ctx)
        }
    }

    Component.onCompleted: canvas.requestPaint()
    onMainPulseChanged: canvas.requestPaint()
    onFillPulseChanged: canvas.requestPaint()
    onMainXChanged: canvas.requestPaint()
    onFillXChanged: canvas.requestPaint()
    onFillVisibleChanged: canvas.requestPaint()
    onShowRulerChanged: canvas.requestPaint()
    onDelayMsChanged: canvas.requestPaint()
    onDarkChanged: canvas.requestPaint()
    onWidthChanged: canvas.requestPaint()
    onHeightChanged: canvas.requestPaint()
    onRenderScaleChanged: canvas.requestPaint()
}
