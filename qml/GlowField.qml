import QtQuick
import "Glows.js" as Glows
import "Palette.js" as Palette

// A broad elliptical glow behind a screen's content.
Canvas {
    id: field

    property color glowColor: Palette.glowBlue
    property real strength: 1
    property real centerX: 0.5
    property real centerY: 0.55
    property real radiusX: 0.78
    property real radiusY: 0.76
    property real alphaCenter: 0.24
    property real alphaMid: 0.16
    property real alphaOuter: 0.08
    property real alphaTail: 0.03

    onGlowColorChanged: requestPaint()
    onStrengthChanged: requestPaint()
    onCenterXChanged: requestPaint()
    onCenterYChanged: requestPaint()
    onRadiusXChanged: requestPaint()
    onRadiusYChanged: requestPaint()
    onAlphaCenterChanged: requestPaint()
    onAlphaMidChanged: requestPaint()
    onAlphaOuterChanged: requestPaint()
    onAlphaTailChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        if (width < 1 || height < 1)
            return
        Glows.paintRadial(ctx, width, height, width * centerX, height * centerY,
                          Math.max(1, width * radiusX), Math.max(1, height * radiusY), glowColor,
                          [0, 0.30, 0.55, 0.72, 0.90],
                          [alphaCenter, alphaMid, alphaOuter, alphaTail, 0], strength)
    }
}
