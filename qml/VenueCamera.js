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

// A scene point on the view: x, y in pixels and its depth, never nearer than 0.2 m so that
// points behind the camera still land somewhere.
function project(cam, point) {
    return projectInto(cam, point, {x: 0, y: 0, depth: 0})
}

// The same written into `out`: the loops over every point of a picture use one object over and
// over.
function projectInto(cam, point, out) {
    const c = Math.cos(cam.yaw), s = Math.sin(cam.yaw)
    const px = point[0] - cam.pivot[0], pz = point[2] - cam.pivot[1]
    const vx = cam.pivot[0] + px * c - pz * s - cam.eye[0]
    const vy = point[1] - cam.eye[1]
    const vz = cam.pivot[1] + px * s + pz * c - cam.eye[2]
    const f = cam.forward, r = cam.right, u = cam.up
    const depth = Math.max(0.2, vx * f[0] + vy * f[1] + vz * f[2])
    out.x = cam.width / 2 + (vx * r[0] + vy * r[1] + vz * r[2]) / depth * cam.focal
    out.y = cam.height / 2 - (vx * u[0] + vy * u[1] + vz * u[2]) / depth * cam.focal
    out.depth = depth
    return out
}

// The point the loops project into.
var spot = {x: 0, y: 0, depth: 0}

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

// Adds the projected polyline to the canvas's current path.
function trace(ctx, cam, points, close) {
    for (let i = 0; i < points.length; ++i) {
        const s = projectInto(cam, points[i], spot)
        if (i === 0)
            ctx.moveTo(s.x, s.y)
        else
            ctx.lineTo(s.x, s.y)
    }
    if (close)
        ctx.closePath()
}

// A new canvas path through the projected points.
function path(ctx, cam, points, close) {
    ctx.beginPath()
    trace(ctx, cam, points, close)
}
