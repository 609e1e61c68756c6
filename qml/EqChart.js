.pragma library

// The processor EQ page's chart: its own magnitude model at 96 kHz (cookbook biquads for the
// bands, Butterworth-shaped magnitudes for the corners), the axes, and the hit test of the
// band points. Coordinates are canvas units of a plot rectangle.

var sampleRate = 96000
// Filter order by corner type: Butterworth 6-48, Bessel 6-48, Linkwitz-Riley 12-48.
var cornerOrders = [1, 2, 3, 4, 6, 8, 1, 2, 3, 4, 6, 8, 2, 4, 6, 8]
// The screens' family first; Context2D knows no font substitutions, so the face it maps to follows.
var fontFamilies = "\"Microsoft YaHei UI\", \"Noto Sans CJK SC\""
var gridFrequencies = [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]

function active(band) {
    return band && !band.bypass && band.freq > 0
}

// The band's biquad (b0, b1, b2, a0, a1, a2), or null where it leaves the level unchanged.
function bandSection(band) {
    if (!active(band))
        return null
    var type = band.type
    if (type === 3 || type === 4 || type === 5)
        return null
    var w0 = 2 * Math.PI * band.freq / sampleRate
    var c = Math.cos(w0)
    var alpha = Math.sin(w0) / (2 * Math.max(0.1, band.q))
    var A = Math.pow(10, band.gain / 40)
    if (type === 1 || type === 2) {
        var beta = 2 * Math.sqrt(A) * alpha
        if (type === 1)
            return [A * ((A + 1) - (A - 1) * c + beta), 2 * A * ((A - 1) - (A + 1) * c),
                    A * ((A + 1) - (A - 1) * c - beta), (A + 1) + (A - 1) * c + beta,
                    -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - beta]
        return [A * ((A + 1) + (A - 1) * c + beta), -2 * A * ((A - 1) + (A + 1) * c),
                A * ((A + 1) + (A - 1) * c - beta), (A + 1) - (A - 1) * c + beta,
                2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - beta]
    }
    return [1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A]
}

function sectionDb(s, f) {
    var w = 2 * Math.PI * f / sampleRate
    var c1 = Math.cos(w), s1 = Math.sin(w), c2 = Math.cos(2 * w), s2 = Math.sin(2 * w)
    var nr = s[0] + s[1] * c1 + s[2] * c2, ni = -(s[1] * s1 + s[2] * s2)
    var dr = s[3] + s[4] * c1 + s[5] * c2, di = -(s[4] * s1 + s[5] * s2)
    var magnitude = Math.sqrt((nr * nr + ni * ni) / Math.max(1e-12, dr * dr + di * di))
    return 20 * Math.log(Math.max(1e-6, magnitude)) / Math.LN10
}

function cornerDb(corner, highPass, f) {
    if (!corner || corner.bypass !== false || !(corner.freq > 0))
        return 0
    var order = cornerOrders[Math.max(0, Math.min(15, corner.type | 0))]
    var ratio = highPass ? Math.max(1, corner.freq) / Math.max(0.1, f)
                         : Math.max(0.1, f) / Math.max(1, corner.freq)
    return -10 * Math.log(1 + Math.pow(ratio, 2 * order)) / Math.LN10
}

// The total response in dB at each frequency of `freqs`.
function response(bands, hpf, lpf, freqs) {
    var sections = []
    for (var i = 0; i < bands.length; ++i) {
        var s = bandSection(bands[i])
        if (s)
            sections.push(s)
    }
    var result = new Array(freqs.length)
    for (var k = 0; k < freqs.length; ++k) {
        var db = cornerDb(hpf, true, freqs[k]) + cornerDb(lpf, false, freqs[k])
        for (var j = 0; j < sections.length; ++j)
            db += sectionDb(sections[j], freqs[k])
        result[k] = db
    }
    return result
}

function xOf(plot, f) {
    return plot.x + Math.log(f / 20) / Math.log(1000) * plot.width
}

function yOf(plot, g) {
    return plot.y + (1 - (g + 18) / 36) * plot.height
}

// The frequency and gain under a canvas point, limited to the chart.
function valueAt(plot, x, y) {
    var f = 20 * Math.pow(1000, (x - plot.x) / plot.width)
    var g = (1 - (y - plot.y) / plot.height) * 36 - 18
    return {
        "freq": Math.max(20, Math.min(20000, f)),
        "gain": Math.max(-18, Math.min(18, g))
    }
}

function dotOf(plot, band) {
    return {
        "x": xOf(plot, Math.max(20, Math.min(20000, band.freq))),
        "y": yOf(plot, Math.max(-18, Math.min(18, band.gain)))
    }
}

// The active band whose point is nearest to (x, y) within `reach`, or -1.
function nearestDot(plot, bands, x, y, reach) {
    var best = -1, bestDistance = reach
    for (var i = 0; i < bands.length; ++i) {
        if (!active(bands[i]))
            continue
        var dot = dotOf(plot, bands[i])
        var distance = Math.sqrt((dot.x - x) * (dot.x - x) + (dot.y - y) * (dot.y - y))
        if (distance <= bestDistance) {
            best = i
            bestDistance = distance
        }
    }
    return best
}

function rgba(color, alpha) {
    return "rgba(" + Math.round(color.r * 255) + "," + Math.round(color.g * 255) + ","
            + Math.round(color.b * 255) + "," + alpha + ")"
}

function paintGrid(ctx, plot, ink) {
    ctx.lineWidth = 1
    ctx.strokeStyle = rgba(ink, 0.14)
    ctx.fillStyle = rgba(ink, 0.72)
    ctx.font = "18px " + fontFamilies
    ctx.textAlign = "center"
    ctx.beginPath()
    for (var i = 0; i < gridFrequencies.length; ++i) {
        var f = gridFrequencies[i]
        var x = Math.round(xOf(plot, f)) + 0.5
        ctx.moveTo(x, plot.y)
        ctx.lineTo(x, plot.y + plot.height)
        ctx.fillText(f >= 1000 ? f / 1000 + "k" : String(f), x, plot.y + plot.height + 22)
    }
    ctx.textAlign = "right"
    for (var g = -18; g <= 18; g += 6) {
        var y = Math.round(yOf(plot, g)) + 0.5
        ctx.moveTo(plot.x, y)
        ctx.lineTo(plot.x + plot.width, y)
        ctx.fillText((g > 0 ? "+" : "") + g, plot.x - 8, y + 6)
    }
    ctx.stroke()
}

var curveFrequencyList = null

// 20 Hz in steps of 3 % up to 20 kHz, made once.
function curveFrequencies() {
    if (!curveFrequencyList) {
        curveFrequencyList = []
        for (var f = 20; f <= 20000; f *= 1.03)
            curveFrequencyList.push(f)
    }
    return curveFrequencyList
}

// The curve from 20 Hz in steps of 3 % up to 20 kHz as polylines of canvas points: parts beyond
// +-17.5 dB are left out and the curve resumes where it comes back.
function curveSegments(plot, bands, hpf, lpf) {
    var freqs = curveFrequencies()
    var db = response(bands, hpf, lpf, freqs)
    var segments = []
    var current = null
    for (var i = 0; i < freqs.length; ++i) {
        if (Math.abs(db[i]) > 17.5) {
            current = null
            continue
        }
        if (!current) {
            current = []
            segments.push(current)
        }
        current.push(Qt.point(xOf(plot, freqs[i]), yOf(plot, db[i])))
    }
    return segments
}
