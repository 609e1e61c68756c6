import QtQuick
import "Glows.js" as Glows
import "Palette.js" as Palette

// The round glow inside a card, clipped to the card's rounded shape, its alphas times strength.
Canvas {
    id: glow

    property color glowColor: Palette.glowBlue
    property real strength: 1.0
    property real radius: 27

    onGlowColorChanged: requestPaint()
    onStrengthChanged: requestPaint()
    onRadiusChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        if (width < 2 || height < 2 || strength <= 0)
            return
        ctx.save()
        Glows.roundedPath(ctx, width, height, Math.min(radius, width / 2, height / 2))
        ctx.clip()
        Glows.paintRound(ctx, width, height, glowColor, 1, strength)
        ctx.restore()
    }
}
