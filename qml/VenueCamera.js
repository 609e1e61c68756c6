.pragma library

// What the small venue pictures share: vectors in metres (x to the right, y up, z towards the
// audience), a perspective camera that turns the scene about a vertical axis before it looks,
// its fit to a set of points, and canvas paths through projected points.
//
// A camera is an object with: width and height of the view, focal (pixels), yaw (radians) and
// pivot ([x, z], the vertical axis the scene turns about), target, distance and back (the unit
// direction from the target towards the eye); place() adds eye, forward, right and up.

function add(a, b) { return [a[0] + b[0], a[1] + b[1], a[2] + b[2]] }
function sub(a, b) { return [a[0] - b[0], a[1] - b[1], a[2] - b[2]] }
function mul(a, s) { return [a[0] * s, a[1] * s, a[2] * s] }
function dot(a, b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] }
function cross(a, b) {
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]
}
function unit(a) { return mul(a, 1 / Math.sqrt(dot(a, a))) }
function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)) }

// The eye at `distance` from the target along `back`, and the axes it looks along.
function place(cam) {
    cam.eye = add(cam.target, mul(cam.back, cam.distance))
    cam.forward = mul(cam.back, -1)
    cam.right = unit(cross(cam.forward, [0, 1, 0]))
    cam.up = cross(cam.right, cam.forward)
}

// A scene point on the view: x, y in pixels and its depth, never nearer than 0.2 m so that
// points behind the camera still land somewhere.
function project(cam, point) {
    const c = Math.cos(cam.yaw), s = Math.sin(cam.yaw)
    const px = point[0] - cam.pivot[0], pz = point[2] - cam.pivot[1]
    const vx = cam.pivot[0] + px * c - pz * s - cam.eye[0]
    const vy = point[1] - cam.eye[1]
    const vz = cam.pivot[1] + px * s + pz * c - cam.eye[2]
    const f = cam.forward, r = cam.right, u = cam.up
    const depth = Math.max(0.2, vx * f[0] + vy * f[1] + vz * f[2])
    return {
        x: cam.width / 2 + (vx * r[0] + vy * r[1] + vz * r[2]) / depth * cam.focal,
        y: cam.height / 2 - (vx * u[0] + vy * u[1] + vz * u[2]) / depth * cam.focal,
        depth: depth
    }
}

// Seven rounds that move the target by the screen offset of the points' middle and the eye in or
// out until the points fill `fill` of the view; the camera is placed afterwards.
function fit(cam, points, fill) {
    place(cam)
    for (let round = 0; round < 7; ++round) {
        let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity
        for (const p of points) {
            const s = project(cam, p)
            x0 = Math.min(x0, s.x); x1 = Math.max(x1, s.x)
            y0 = Math.min(y0, s.y); y1 = Math.max(y1, s.y)
        }
        const perPixel = cam.distance / cam.focal
        cam.target = add(cam.target,
                         add(mul(cam.right, ((x0 + x1) / 2 - cam.width / 2) * perPixel),
                             mul(cam.up, -((y0 + y1) / 2 - cam.height / 2) * perPixel)))
        cam.distance *= Math.max((x1 - x0) / cam.width, (y1 - y0) / cam.height) / fill
        place(cam)
    }
}

// Adds the projected polyline to the canvas's current path.
function trace(ctx, cam, points, close) {
    for (let i = 0; i < points.length; ++i) {
        const s = project(cam, points[i])
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
