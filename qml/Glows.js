.pragma library

// The radial glows of the cards and backgrounds, painted on a Canvas (no shader, so they show
// under every scene graph backend).

// The soft round glow of Glow and InnerGlow: its stops and their alphas.
var roundStops = [0, 0.26, 0.50, 0.70, 0.88]
var roundAlphas = [0.36, 0.18, 0.07, 0.025, 0]

function rgba(color, alpha) {
    return "rgba(" + Math.round(color.r * 255) + "," + Math.round(color.g * 255) + ","
            + Math.round(color.b * 255) + "," + (color.a * alpha) + ")"
}

// Fills the whole width x height canvas with an elliptical gradient centred at (cx, cy) with
// radii rx and ry; alphas[i] (times strength) at stops[i].
function paintRadial(ctx, width, height, cx, cy, rx, ry, color, stops, alphas, strength) {
    ctx.save()
    ctx.translate(cx, cy)
    ctx.scale(rx, ry)
    const gradient = ctx.createRadialGradient(0, 0, 0, 0, 0, 1)
    for (let i = 0; i < stops.length; ++i)
        gradient.addColorStop(stops[i], rgba(color, alphas[i] * strength))
    ctx.fillStyle = gradient
    ctx.fillRect(-cx / rx, -cy / ry, width / rx, height / ry)
    ctx.restore()
}

// The round glow of a width x height area: centred at 50 % width and 54 % height.
function paintRound(ctx, width, height, color, spread, strength) {
    const r = Math.max(1, Math.max(width, height) * 0.56 * spread)
    paintRadial(ctx, width, height, width * 0.5, height * 0.54, r, r, color, roundStops,
                roundAlphas, strength)
}

// A rounded rectangle path with quadratic corners of radius r.
function roundedPath(ctx, width, height, r) {
    ctx.beginPath()
    ctx.moveTo(r, 0)
    ctx.lineTo(width - r, 0)
    ctx.quadraticCurveTo(width, 0, width, r)
    ctx.lineTo(width, height - r)
    ctx.quadraticCurveTo(width, height, width - r, height)
    ctx.lineTo(r, height)
    ctx.quadraticCurveTo(0, height, 0, height - r)
    ctx.lineTo(0, r)
    ctx.quadraticCurveTo(0, 0, r, 0)
    ctx.closePath()
}
