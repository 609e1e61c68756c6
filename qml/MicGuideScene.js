.pragma library
.import "VenueCamera.js" as Space
.import "Palette.js" as Palette

// The line-array guide's venue in metres (x to the right, y up, z from the stage into the
// audience), its camera and its drawing on a 2-D canvas.

// Six cabinets hung from (0, 6, 0): the first tilted down by 14.430453 degrees, each next one by
// the one above plus these steps, each hanging from the bottom front of the one above.
var splaySteps = [0, 1.5, 1.5, 3, 4.5, 7.5]
var firstTiltDeg = 14.430453
var cabinetSize = {width: 0.8, height: 0.31, depth: 0.46}
var mics = [[-0.007, 5.967], [-0.860, 8.856], [0.882, 11.441], [-0.802, 13.765], [0.621, 16.001]]
var stage = {x0: -4.5, x1: 4.5, z0: -4.0, z1: 0, top: 0.8}
var audience = {x0: -4.1, x1: 4.4, z0: 0, z1: 18.1}

var add = Space.add, sub = Space.sub, mul = Space.mul, clamp = Space.clamp
var path = Space.path

// Each cabinet: its eight corners by face, its front centre and its aim (pointing forwards), and
// what is drawn of it that no view changes: the corners as a list, the faces' fills, the six
// stripes across the front and the aim's ray. They hang where they hang: worked out once.
var hung = null
function cabinets() {
    if (!hung)
        hung = hangCabinets()
    return hung
}

function hangCabinets() {
    const list = []
    let hang = [0, 6.0, 0]
    let tilt = firstTiltDeg
    for (let i = 0; i < 6; ++i) {
        tilt += splaySteps[i]
        const a = tilt * Math.PI / 180
        const up = [0, Math.cos(a), Math.sin(a)]
        const forward = [0, -Math.sin(a), Math.cos(a)]
        const at = (lx, ly, lz) => add(add(add(hang, [lx, 0, 0]), mul(up, ly)), mul(forward, lz))
        const w = cabinetSize.width / 2, h = -cabinetSize.height, d = -cabinetSize.depth
        const c = {
            ftl: at(-w, 0, 0), ftr: at(w, 0, 0), fbl: at(-w, h, 0), fbr: at(w, h, 0),
            btl: at(-w, 0, d), btr: at(w, 0, d), bbl: at(-w, h, d), bbr: at(w, h, d)
        }
        const cabinet = {
            tiltDeg: tilt,
            faces: [
                {shade: 0.13, front: true, points: [c.ftl, c.ftr, c.fbr, c.fbl]},
                {shade: 0.02, points: [c.btl, c.btr, c.bbr, c.bbl]},
                {shade: 0.05, points: [c.ftl, c.btl, c.bbl, c.fbl]},
                {shade: 0.16, points: [c.ftr, c.btr, c.bbr, c.fbr]},
                {shade: 0.25, points: [c.ftl, c.ftr, c.btr, c.btl]},
                {shade: 0.02, points: [c.fbl, c.fbr, c.bbr, c.bbl]}
            ],
            corners: c,
            cornerList: Object.values(c),
            stripes: frontStripes(c),
            frontCentre: at(0, h / 2, 0),
            forward: forward
        }
        for (const face of cabinet.faces) {
            const tone = Math.round(32 + face.shade * 105)
            face.fill = "rgb(" + tone + "," + tone + "," + tone + ")"
        }
        cabinet.ray = aimRay(cabinet)
        list.push(cabinet)
        hang = at(0, h, 0)
    }
    return list
}

// Six lines across a cabinet's front, at sevenths of its height.
function frontStripes(c) {
    const stripes = []
    for (let i = 1; i <= 6; ++i) {
        const t = i / 7
        stripes.push([add(c.ftl, mul(sub(c.fbl, c.ftl), t)), add(c.ftr, mul(sub(c.fbr, c.ftr), t))])
    }
    return stripes
}

// From a cabinet's front centre along its aim down to a height of 1.2 m (1 to 20 m long), or
// 16 m when it does not aim downwards.
function aimRay(cabinet) {
    const start = cabinet.frontCentre
    const fall = -cabinet.forward[1]
    const length = fall > 0 ? clamp((start[1] - 1.2) / fall, 1, 20) : 16
    return [start, add(start, mul(cabinet.forward, length))]
}

// The points the camera frames.
function keyPoints() {
    const points = [[audience.x0, 0, audience.z0], [audience.x1, 0, audience.z0],
                    [audience.x1, 0, audience.z1], [audience.x0, 0, audience.z1]]
    for (const m of mics)
        points.push([m[0], 0.9, m[1]])
    for (const s of [-1, 1]) {
        points.push([0.5 * s, 6.1, -0.5], [0.5 * s, 4.0, -1.1], [4.5 * s, 0.8, -4.0],
                    [4.5 * s, 0, -4.0])
    }
    points.push([0, 7.8, 0], [0, 7.8, 18.1])
    return points
}

// A camera for a width x height view: azimuth -0.8 rad, the elevation following the pitch, a
// 30 degree vertical field, fitted in seven passes so that the key points fill 88 % of the view
// around their middle; then moved in by the zoom. Points are turned by the yaw about the
// vertical through (0, -0.5) before they are projected, so the fit does not depend on the yaw:
// while the venue turns, the last fit is used again: the camera returned is kept with it and
// turned to each picture's yaw in place.
var lastFit = null
function camera(width, height, view) {
    const last = lastFit
    if (!last || last.width !== width || last.height !== height || last.pitch !== view.pitch
            || last.zoom !== view.zoom) {
        lastFit = {width: width, height: height, pitch: view.pitch, zoom: view.zoom,
                   turned: fittedCamera(width, height, view)}
    }
    lastFit.turned.yaw = view.yaw
    return lastFit.turned
}

function fittedCamera(width, height, view) {
    const elevation = clamp(0.235 + view.pitch, 0.10, 0.85)
    const azimuth = -0.800
    const cam = {width: width, height: height, focal: height / 2 / Math.tan(15 * Math.PI / 180),
                 yaw: 0, pivot: [0, -0.5], target: [0.15, 2.4, 7.2], distance: 30,
                 back: [Math.cos(elevation) * Math.sin(azimuth), Math.sin(elevation),
                        Math.cos(elevation) * Math.cos(azimuth)]}
    Space.fit(cam, keyPoints(), 0.88)
    cam.distance /= view.zoom
    Space.place(cam)
    return cam
}

function depthOf(cam, points) {
    let sum = 0
    for (let i = 0; i < points.length; ++i)
        sum += Space.projectInto(cam, points[i], Space.spot).depth
    return sum / points.length
}

function rgba(rgb, alpha) {
    return "rgba(" + rgb + "," + alpha + ")"
}

// The stage box's top, front and sides, and where its name goes.
var stageBox = (() => {
    const corners = (y) => [[stage.x0, y, stage.z0], [stage.x1, y, stage.z0],
                            [stage.x1, y, stage.z1], [stage.x0, y, stage.z1]]
    const upper = corners(stage.top), lower = corners(0)
    return {top: upper, front: [upper[3], upper[2], lower[2], lower[3]],
            left: [upper[0], lower[0], lower[3], upper[3]],
            right: [upper[1], lower[1], lower[2], upper[2]],
            middle: [(stage.x0 + stage.x1) / 2, stage.top / 2, stage.z1]}
})()

function drawStage(ctx, cam, colors, labels) {
    ctx.lineWidth = 1
    ctx.strokeStyle = rgba(colors.blue, 0.55)
    path(ctx, cam, stageBox.top, true)
    ctx.fillStyle = rgba(colors.blue, 0.10)
    ctx.fill()
    ctx.stroke()
    path(ctx, cam, stageBox.front, true)
    ctx.fillStyle = rgba(colors.blue, 0.045)
    ctx.fill()
    ctx.stroke()
    path(ctx, cam, stageBox.left, false)
    ctx.stroke()
    path(ctx, cam, stageBox.right, false)
    ctx.stroke()
    const label = Space.projectInto(cam, stageBox.middle, Space.spot)
    labels.push({text: "舞台", x: label.x, y: label.y, size: 12, bold: true,
                 color: colors.stageName})
}

// The floor grid's lines every metre and the audience area.
var floorGrid = (() => {
    const lines = []
    for (let x = -8; x <= 8; ++x)
        lines.push([[x, 0, 0], [x, 0, 20]])
    for (let z = 0; z <= 20; ++z)
        lines.push([[-8, 0, z], [8, 0, z]])
    return lines
})()
var audienceArea = [[audience.x0, 0, audience.z0], [audience.x1, 0, audience.z0],
                    [audience.x1, 0, audience.z1], [audience.x0, 0, audience.z1]]

// The floor grid's 0.8 px lines, at most one device pixel wide with the ink of the wider line
// in their alpha: a pen wider than a device pixel leaves the painter's hairline path, and the
// grid then costs a third of a frame at render scale 2.
function drawFloor(ctx, cam, colors, pixelScale) {
    const inDevice = 0.8 * pixelScale
    ctx.lineWidth = Math.min(inDevice, 1) / pixelScale
    ctx.strokeStyle = rgba(colors.line, 0.09 * Math.max(1, inDevice))
    ctx.beginPath()
    for (let i = 0; i < floorGrid.length; ++i) {
        const s = Space.projectInto(cam, floorGrid[i][0], Space.spot)
        ctx.moveTo(s.x, s.y)
        const e = Space.projectInto(cam, floorGrid[i][1], Space.spot)
        ctx.lineTo(e.x, e.y)
    }
    ctx.stroke()
    const area = audienceArea
    let top = Infinity, bottom = -Infinity
    for (let i = 0; i < area.length; ++i) {
        const y = Space.projectInto(cam, area[i], Space.spot).y
        top = Math.min(top, y)
        bottom = Math.max(bottom, y)
    }
    const gradient = ctx.createLinearGradient(0, top, 0, bottom)
    gradient.addColorStop(0, rgba(colors.blue, 0.36))
    gradient.addColorStop(1, rgba(colors.blue, 0.14))
    path(ctx, cam, area, true)
    ctx.fillStyle = gradient
    ctx.fill()
    ctx.lineWidth = 1
    ctx.strokeStyle = rgba(colors.blue, 0.85)
    ctx.stroke()
}

function drawRays(ctx, cam, list) {
    ctx.lineWidth = 1.6
    ctx.strokeStyle = "rgba(120,180,255,0.75)"
    ctx.fillStyle = "rgba(120,180,255,0.95)"
    for (let i = 0; i < list.length; ++i) {
        const ray = list[i].ray
        path(ctx, cam, ray, false)
        ctx.stroke()
        const end = Space.projectInto(cam, ray[1], Space.spot)
        ctx.beginPath()
        ctx.arc(end.x, end.y, 2.4, 0, 2 * Math.PI)
        ctx.fill()
    }
}

// The cabinets and their faces far to near, each depth worked out once a picture, in kept lists.
var cabinetOrder = []
var faceOrder = []

function drawCabinets(ctx, cam, list, colors) {
    for (let i = 0; i < list.length; ++i)
        list[i].depth = depthOf(cam, list[i].cornerList)
    const sorted = Space.farFirst(list, cabinetOrder)
    ctx.lineWidth = 1.4
    for (let i = 0; i < sorted.length; ++i) {
        const cabinet = sorted[i]
        for (let k = 0; k < cabinet.faces.length; ++k)
            cabinet.faces[k].depth = depthOf(cam, cabinet.faces[k].points)
        const faces = Space.farFirst(cabinet.faces, faceOrder)
        for (let k = 0; k < faces.length; ++k) {
            path(ctx, cam, faces[k].points, true)
            ctx.fillStyle = faces[k].fill
            ctx.fill()
            ctx.strokeStyle = "rgba(210,215,225,0.55)"
            ctx.stroke()
        }
        ctx.strokeStyle = rgba(colors.blue, 0.9)
        ctx.lineWidth = 1
        ctx.beginPath()
        for (let k = 0; k < cabinet.stripes.length; ++k) {
            const left = Space.projectInto(cam, cabinet.stripes[k][0], Space.spot)
            ctx.moveTo(left.x, left.y)
            const right = Space.projectInto(cam, cabinet.stripes[k][1], Space.spot)
            ctx.lineTo(right.x, right.y)
        }
        ctx.stroke()
        ctx.lineWidth = 1.4
    }
}

// The microphones with their numbers and the points drawn of them, made once; their order far to
// near and their projected points, kept.
var micMarks = mics.map((m, i) => ({number: i + 1, text: String(i + 1), depth: 0,
                                    middle: [m[0], 0.5, m[1]], foot: [m[0], 0, m[1]],
                                    head: [m[0], 0.44, m[1]], badge: [m[0], 0.86, m[1]]}))
var micOrder = []
var micFoot = {x: 0, y: 0, depth: 0, z: 0}
var micHead = {x: 0, y: 0, depth: 0, z: 0}
var micBadge = {x: 0, y: 0, depth: 0, z: 0}

function drawMics(ctx, cam, colors, labels) {
    for (let i = 0; i < micMarks.length; ++i)
        micMarks[i].depth = Space.projectInto(cam, micMarks[i].middle, Space.spot).depth
    const order = Space.farFirst(micMarks, micOrder)
    for (let i = 0; i < order.length; ++i) {
        const mic = order[i]
        const foot = Space.projectInto(cam, mic.foot, micFoot)
        const head = Space.projectInto(cam, mic.head, micHead)
        const badge = Space.projectInto(cam, mic.badge, micBadge)
        ctx.strokeStyle = "rgb(70,200,120)"
        ctx.fillStyle = "rgb(70,200,120)"
        ctx.lineWidth = 1.6
        ctx.beginPath()
        ctx.moveTo(foot.x, foot.y)
        ctx.lineTo(head.x, head.y)
        ctx.stroke()
        const ring = 60 / foot.depth
        ctx.beginPath()
        ctx.ellipse(foot.x - ring, foot.y - ring * 0.35, 2 * ring, ring * 0.7)
        ctx.stroke()
        ctx.beginPath()
        ctx.arc(head.x, head.y, 2.2, 0, 2 * Math.PI)
        ctx.fill()

        const radius = clamp(9.8 * 19 / badge.depth, 7.4, 12.8)
        ctx.beginPath()
        ctx.arc(badge.x, badge.y, radius, 0, 2 * Math.PI)
        ctx.fillStyle = mic.number === 1 ? "rgb(8,57,136)" : colors.badge
        ctx.fill()
        ctx.lineWidth = 1.2
        ctx.strokeStyle = rgba(colors.blue, 0.95)
        ctx.stroke()
        labels.push({text: mic.text, x: badge.x, y: badge.y + 0.5,
                     size: Math.round(radius * 1.15), bold: true,
                     color: mic.number === 1 ? Palette.white : colors.number})
    }
}

// The whole picture on a width x height canvas already scaled to design pixels (by
// `pixelScale`). The texts are not drawn here: paint() returns where they go ({text, x, y, size,
// bold, color}, centred on x, y), so that text items lay them over the canvas, and the two
// fixed lines at the top are text items of their own.
function paint(ctx, width, height, pixelScale, view, dark) {
    // The canvas reads "r,g,b" triples with an alpha (rgba()); the text items laid over it take
    // Qt's own colour strings, in which "rgba(...)" reads as black.
    const colors = dark ? {line: "255,255,255", blue: "74,142,255", badge: Palette.nightCard,
                           number: Palette.white, stageName: Palette.white75}
                        : {line: "16,18,22", blue: "8,57,136", badge: Palette.white,
                           number: Palette.nightBadge, stageName: Palette.nightBadge75}
    const cam = camera(width, height, view)
    const list = cabinets()
    const labels = []
    drawStage(ctx, cam, colors, labels)
    drawFloor(ctx, cam, colors, pixelScale)
    drawRays(ctx, cam, list)
    drawCabinets(ctx, cam, list, colors)
    drawMics(ctx, cam, colors, labels)
    return labels
}

// The colour of the fixed lines at the top.
function hintColor(dark) {
    return dark ? Palette.white85 : Palette.nightBadge85
}
