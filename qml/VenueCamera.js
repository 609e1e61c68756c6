.pragma library

// What the small venue pictures share: vectors in metres (x to the right, y up, z towards the
// audience), a perspective camera that turns the scene about a vertical axis before it looks,
// its fit to a set of points, and canvas paths through projected points.
//
// A camera is an object with: width and height of the view, focal (pixels), yaw (radians) and
// pivot ([x, z], the vertical axis the scene turns about), target, distance and back (the unit
// direction from the target towards the eye); place() adds eye, forward, right and up.
//
// The code run for every picture loops by index and fills objects it keeps: a for-of loop or a
// vector made per step leaves objects for the garbage collector, and a frame it runs in takes
// twice its time.

function add(a, b) { return [a[0] + b[0], a[1] + b[1], a[2] + b[2]] }
function sub(a, b) { return [a[0] - b[0], a[1] - b[1], a[2] - b[2]] }
function mul(a, s) { return [a[0] * s, a[1] * s, a[2] * s] }
function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)) }

// The eye at `distance` from the target along `back`, and the axes it looks along: forward
// (towards the target), right (forward × the vertical, as a unit vector) and up (right ×
// forward), written into the camera's own vectors once it has them.
function place(cam) {
    const t = cam.target, b = cam.back, d = cam.distance
    cam.eye = setVector(cam.eye, t[0] + b[0] * d, t[1] + b[1] * d, t[2] + b[2] * d)
    const f = cam.forward = setVector(cam.forward, -b[0], -b[1], -b[2])
    // forward × (0, 1, 0) is (-f[2], 0, f[0]).
    const n = 1 / Math.sqrt(f[2] * f[2] + f[0] * f[0])
    const r = cam.right = setVector(cam.right, -f[2] * n, 0, f[0] * n)
    cam.up = setVector(cam.up, r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2],
                       r[0] * f[1] - r[1] * f[0])
}

function setVector(v, x, y, z) {
    if (!v)
        return [x, y, z]
    v[0] = x
    v[1] = y
    v[2] = z
    return v
}

// How near the eye a point may lie: a path is cut where it comes nearer, and a single point
// nearer than this is projected as if it lay this far ahead, so that it still lands somewhere.
var near = 0.2

// Where a camera point `depth` ahead of the eye lands on the view: x across, y down, in pixels.
function viewX(cam, x, depth) {
    return cam.width / 2 + x / depth * cam.focal
}

function viewY(cam, y, depth) {
    return cam.height / 2 - y / depth * cam.focal
}

// A scene point on the view: x, y in pixels, its depth (never nearer than `near`) and z, how far
// ahead of the eye it really lies (negative behind it).
function project(cam, point) {
    return projectInto(cam, point, {x: 0, y: 0, depth: 0, z: 0})
}

// The same written into `out`: the loops over every point of a picture use one object over and
// over. viewX() and viewY() are written out here, as this runs for every point of every picture.
function projectInto(cam, point, out) {
    toCamera(cam, point, out)
    const depth = Math.max(near, out.z)
    out.x = cam.width / 2 + out.x / depth * cam.focal
    out.y = cam.height / 2 - out.y / depth * cam.focal
    out.depth = depth
    return out
}

// The point in the camera's own axes, written into `out`: x to the right, y up and z ahead.
function toCamera(cam, point, out) {
    const c = Math.cos(cam.yaw), s = Math.sin(cam.yaw)
    const px = point[0] - cam.pivot[0], pz = point[2] - cam.pivot[1]
    const vx = cam.pivot[0] + px * c - pz * s - cam.eye[0]
    const vy = point[1] - cam.eye[1]
    const vz = cam.pivot[1] + px * s + pz * c - cam.eye[2]
    const f = cam.forward, r = cam.right, u = cam.up
    out.x = vx * r[0] + vy * r[1] + vz * r[2]
    out.y = vx * u[0] + vy * u[1] + vz * u[2]
    out.z = vx * f[0] + vy * f[1] + vz * f[2]
    return out
}

// The point the loops project into.
var spot = {x: 0, y: 0, depth: 0, z: 0}

// Seven rounds that move the target by the screen offset of the points' middle and the eye in or
// out until the points fill `fill` of the view; the camera is placed afterwards.
function fit(cam, points, fill) {
    place(cam)
    for (let round = 0; round < 7; ++round) {
        let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity
        for (let i = 0; i < points.length; ++i) {
            const s = projectInto(cam, points[i], spot)
            x0 = Math.min(x0, s.x); x1 = Math.max(x1, s.x)
            y0 = Math.min(y0, s.y); y1 = Math.max(y1, s.y)
        }
        const perPixel = cam.distance / cam.focal
        const across = ((x0 + x1) / 2 - cam.width / 2) * perPixel
        const upward = -((y0 + y1) / 2 - cam.height / 2) * perPixel
        const t = cam.target, r = cam.right, u = cam.up
        // A new vector: the first target is the scene's own.
        cam.target = [t[0] + (r[0] * across + u[0] * upward),
                      t[1] + (r[1] * across + u[1] * upward),
                      t[2] + (r[2] * across + u[2] * upward)]
        cam.distance *= Math.max((x1 - x0) / cam.width, (y1 - y0) / cam.height) / fill
        place(cam)
    }
}

// How far beyond the view a path may run. The raster engine's smoothing walks every pixel along
// an edge, also off the canvas, and a floor that reaches behind the eye runs tens of thousands of
// pixels out; so paths are cut this far out, where neither the cut edges nor their joins show.
var guard = 32

// The last path's points on the view, x and y by turns, kept from path to path.
var screen = []

// Adds the projected polyline to the canvas's current path: as it is when it lies ahead of the
// eye and within the guard around the view, else cut to both.
function trace(ctx, cam, points, close) {
    let inside = true
    for (let i = 0; i < points.length; ++i) {
        const s = projectInto(cam, points[i], spot)
        screen[2 * i] = s.x
        screen[2 * i + 1] = s.y
        inside = inside && s.z >= near && withinGuard(cam, s.x, s.y)
    }
    if (inside)
        traceScreen(ctx, points.length, close)
    else
        traceCut(ctx, cam, points, close)
}

// Adds the first `count` points of `screen` to the canvas's current path.
function traceScreen(ctx, count, close) {
    for (let i = 0; i < count; ++i) {
        if (i === 0)
            ctx.moveTo(screen[0], screen[1])
        else
            ctx.lineTo(screen[2 * i], screen[2 * i + 1])
    }
    if (close && count > 0)
        ctx.closePath()
}

function withinGuard(cam, x, y) {
    return x >= -guard && x <= cam.width + guard && y >= -guard && y <= cam.height + guard
}

// A path that leaves the view is cut: a polygon to the part ahead of the near plane, then to the
// guard around the view; a polyline segment by segment, starting a new line wherever a cut
// segment does not go on from the last. The faces and the floor grid leave the view in most
// turned pictures, so the cuts work in kept buffers and objects.
function traceCut(ctx, cam, points, close) {
    if (close) {
        const shape = cutPolygon(cam, points)
        for (let i = 0; i < shape.count; ++i) {
            screen[2 * i] = shape.x[i]
            screen[2 * i + 1] = shape.y[i]
        }
        traceScreen(ctx, shape.count, true)
        return
    }
    let lastX = NaN, lastY = NaN
    for (let i = 1; i < points.length; ++i) {
        toCamera(cam, points[i - 1], segmentStart)
        toCamera(cam, points[i], segmentEnd)
        if (!cutSegment(cam, segmentStart, segmentEnd))
            continue
        if (lastX !== cutEnds[0] || lastY !== cutEnds[1])
            ctx.moveTo(cutEnds[0], cutEnds[1])
        ctx.lineTo(cutEnds[2], cutEnds[3])
        lastX = cutEnds[2]
        lastY = cutEnds[3]
    }
}

// The two buffers a polygon is cut between: its points as lists of x, y and z, of which the
// first `count` hold.
var polygonA = {x: [], y: [], z: [], count: 0}
var polygonB = {x: [], y: [], z: [], count: 0}

function addPoint(polygon, x, y, z) {
    const n = polygon.count++
    polygon.x[n] = x
    polygon.y[n] = y
    polygon.z[n] = z
}

// The scene polygon `points` cut to where it lies ahead of the near plane, on the view, cut to
// the guard around it; in one of the buffers.
function cutPolygon(cam, points) {
    const ahead = polygonA
    ahead.count = 0
    for (let i = 0; i < points.length; ++i) {
        toCamera(cam, points[i], spot)
        addPoint(ahead, spot.x, spot.y, spot.z)
    }
    const shape = cutToNear(ahead, polygonB)
    for (let i = 0; i < shape.count; ++i) {
        shape.x[i] = viewX(cam, shape.x[i], shape.z[i])
        shape.y[i] = viewY(cam, shape.y[i], shape.z[i])
    }
    return cutToView(cam, shape, ahead)
}

// The polygon (camera points) cut to where z >= near, by Sutherland and Hodgman, into `out`.
function cutToNear(polygon, out) {
    out.count = 0
    const n = polygon.count, x = polygon.x, y = polygon.y, z = polygon.z
    for (let i = 0; i < n; ++i) {
        const j = (i + 1) % n
        if (z[i] >= near)
            addPoint(out, x[i], y[i], z[i])
        if ((z[i] >= near) !== (z[j] >= near)) {
            const t = (near - z[i]) / (z[j] - z[i])
            addPoint(out, x[i] + (x[j] - x[i]) * t, y[i] + (y[j] - y[i]) * t,
                     z[i] + (z[j] - z[i]) * t)
        }
    }
    return out
}

// The four sides of the guard around the view, by index: the axis each bounds, the bound and
// the side kept (+1: above the bound, -1: below it).
var guardAxis = [0, 0, 1, 1]
var guardKeep = [1, -1, 1, -1]
function guardBound(cam, k) {
    return k % 2 === 0 ? -guard : (k === 1 ? cam.width : cam.height) + guard
}

// The polygon (x, y on the view) cut to the guard around the view, one side at a time, between
// it and `spare`; returns the one that holds the result.
function cutToView(cam, polygon, spare) {
    for (let k = 0; k < 4 && polygon.count > 0; ++k) {
        const bound = guardBound(cam, k), keep = guardKeep[k]
        const input = polygon, x = input.x, y = input.y, n = input.count
        const along = guardAxis[k] === 0 ? x : y
        polygon = spare
        spare = input
        polygon.count = 0
        for (let i = 0; i < n; ++i) {
            const j = (i + 1) % n
            const aIn = (along[i] - bound) * keep >= 0, bIn = (along[j] - bound) * keep >= 0
            if (aIn)
                addPoint(polygon, x[i], y[i], 0)
            if (aIn !== bIn) {
                const t = (bound - along[i]) / (along[j] - along[i])
                addPoint(polygon, x[i] + (x[j] - x[i]) * t, y[i] + (y[j] - y[i]) * t, 0)
            }
        }
    }
    return polygon
}

// The camera points a segment is cut in, its ends on the view (x, y of the first, then of the
// second) and the cut ends, kept from segment to segment.
var segmentStart = {x: 0, y: 0, z: 0}
var segmentEnd = {x: 0, y: 0, z: 0}
var segmentView = [0, 0, 0, 0]
var cutEnds = [0, 0, 0, 0]

// Moves camera point `a` the fraction t of the way to `b`.
function moveTowards(a, b, t) {
    a.x = a.x + (b.x - a.x) * t
    a.y = a.y + (b.y - a.y) * t
    a.z = a.z + (b.z - a.z) * t
}

// The segment between camera points `a` and `b` (both moved where they lie behind the near
// plane) cut to the near plane, projected and cut to the guard around the view (Liang and
// Barsky): true with its two ends on the view in cutEnds, false when nothing is left.
function cutSegment(cam, a, b) {
    if (a.z < near && b.z < near)
        return false
    if (a.z < near)
        moveTowards(a, b, (near - a.z) / (b.z - a.z))
    else if (b.z < near)
        moveTowards(b, a, (near - b.z) / (a.z - b.z))
    const v = segmentView
    v[0] = viewX(cam, a.x, a.z)
    v[1] = viewY(cam, a.y, a.z)
    v[2] = viewX(cam, b.x, b.z)
    v[3] = viewY(cam, b.y, b.z)
    let t0 = 0, t1 = 1
    for (let k = 0; k < 4; ++k) {
        const axis = guardAxis[k], bound = guardBound(cam, k), keep = guardKeep[k]
        const from = (v[axis] - bound) * keep, to = (v[2 + axis] - bound) * keep
        if (from < 0 && to < 0)
            return false
        if (from < 0)
            t0 = Math.max(t0, from / (from - to))
        else if (to < 0)
            t1 = Math.min(t1, from / (from - to))
    }
    if (t0 > t1)
        return false
    cutEnds[0] = t0 > 0 ? v[0] + (v[2] - v[0]) * t0 : v[0]
    cutEnds[1] = t0 > 0 ? v[1] + (v[3] - v[1]) * t0 : v[1]
    cutEnds[2] = t1 < 1 ? v[0] + (v[2] - v[0]) * t1 : v[2]
    cutEnds[3] = t1 < 1 ? v[1] + (v[3] - v[1]) * t1 : v[3]
    return true
}

// The entries ({depth, ...}) far to near in the kept list `order`. They are sorted from their
// own order every time, as a new list would be, so equal depths come out as they always did.
function farFirst(entries, order) {
    order.length = entries.length
    for (let i = 0; i < entries.length; ++i)
        order[i] = entries[i]
    return order.sort(fartherFirst)
}

function fartherFirst(a, b) {
    return b.depth - a.depth
}

// A new canvas path through the projected points.
function path(ctx, cam, points, close) {
    ctx.beginPath()
    trace(ctx, cam, points, close)
}
