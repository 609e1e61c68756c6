import QtQuick
import "Glows.js" as Glows
import "Palette.js" as Palette

// A soft round glow filling its area; its opacity is the strength.
Canvas {
    id: glow

    property color glowColor: Palette.glowBlue
    property real strength: 1.0
    property real spread: 1.0

    opacity: strength
    onGlowColorChanged: requestPaint()
    onSpreadChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        if (width < 1 || height < 1)
            return
        Glows.paintRound(ctx, width, height, glowColor, spread, 1)
    }
}
