.pragma library
.import "CanvasFont.js" as CanvasFont

// The subwoofer guide's venue drawn on a 2-D canvas: a perspective camera fitted to the scene,
// turned about the main loudspeakers' middle, and the picture from the floor up.

var fov = 30 * Math.PI / 180

function add(a, b) { return [a[0] + b[0], a[1] + b[1], a[2] + b[2]] }
function sub(a, b) { return [a[0] - b[0], a[1] - b[1], a[2] - b[2]] }
function mul(a, s) { return [a[0] * s, a[1] * s, a[2] * s] }
function dot(a, b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] }
function unit(a) { return mul(a, 1 / Math.sqrt(dot(a, a))) }
function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)) }

// The point the picture turns about: the mains' mean x and z, else the subwoofers'.
function pivot(scene) {
    const list = scene.mains.length > 0 ? scene.mains : scene.subs
    let x = 0, z = 0
    for (const item of list) {
        x += item.pos[0]
        z += item.pos[2]
    }
    return [x / list.length, z / list.length]
}

// A scene point on the view: x, y in pixels and its depth, never nearer than 0.2 m so that
// points behind the camera still land somewhere.
function project(cam, point) {
    const px = point[0] - cam.pivot[0], pz = point[2] - cam.pivot[1]
    const c = Math.cos(cam.yaw), s = Math.sin(cam.yaw)
    const turned = [cam.pivot[0] + px * c - pz * s, point[1], cam.pivot[1] + px * s + pz * c]
    const v = sub(turned, cam.eye)
    const depth = Math.max(0.2, dot(v, cam.forward))
    return {
        x: cam.width / 2 + dot(v, cam.right) / depth * cam.focal,
        y: cam.height / 2 - dot(v, cam.up) / depth * cam.focal,
        depth: depth
    }
}

function framePoints(scene) {
    const points = []
    if (scene.fit) {
        points.push(...scene.fit)
    } else {
        for (const x of [-3.6, 3.6])
            for (const y of [0, 1.2])
                for (const z of [-4.3, 9.2])
                    points.push([x, y, z])
    }
    for (const main of scene.mains)
        points.push(main.pos, add(main.pos, [0, 0.7, 0]))
    for (const item of scene.subs)
        points.push(item.pos, add(item.pos, [0, 0.8, 0]))
    for (const mic of scene.mics)
        points.push([mic[0], 1.45, mic[2]])
    return points
}

// The camera for a width x height view: seen from azimuth -0.78 rad at the view's elevation,
// fitted in seven rounds so that the scene's points fill 92 % of the view around their middle,
// then moved in by the zoom.
function camera(scene, width, height, view) {
    const elevation = clamp(0.16 + view.pitch, 0.05, 0.85)
    const azimuth = -0.78
    const back = [Math.sin(azimuth) * Math.cos(elevation), Math.sin(elevation),
                  Math.cos(azimuth) * Math.cos(elevation)]
    const cam = {
        width: width, height: height, yaw: view.yaw, pivot: pivot(scene),
        focal: height / 2 / Math.tan(fov / 2), target: scene.target || [0, 1.3, 3.4],
        distance: 24, forward: mul(back, -1)
    }
    cam.right = unit([-cam.forward[2], 0, cam.forward[0]])
    cam.up = [cam.right[1] * cam.forward[2] - cam.right[2] * cam.forward[1],
              cam.right[2] * cam.forward[0] - cam.right[0] * cam.forward[2],
              cam.right[0] * cam.forward[1] - cam.right[1] * cam.forward[0]]
    const place = () => { cam.eye = add(cam.target, mul(back, cam.distance)) }
    place()
    const points = framePoints(scene)
    for (let round = 0; round < 7; ++round) {
        let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity
        for (const p of points) {
            const s = project(cam, p)
            x0 = Math.min(x0, s.x); x1 = Math.max(x1, s.x)
            y0 = Math.min(y0, s.y); y1 = Math.max(y1, s.y)
        }
        const pixel = 2 * cam.distance * Math.tan(fov / 2) / height
        cam.target = add(cam.target, add(mul(cam.right, ((x0 + x1) / 2 - width / 2) * pixel),
                                         mul(cam.up, -((y0 + y1) / 2 - height / 2) * pixel)))
        cam.distance *= Math.max((x1 - x0) / width, (y1 - y0) / height) / 0.92
        place()
    }
    cam.distance /= view.zoom
    place()
    return cam
}

// A model point of a cabinet in the scene: tilted by its pitch about x, turned by its yaw about
// the vertical, then moved to its position.
function place(item, point) {
    const pitch = item.pitchDeg * Math.PI / 180, yaw = item.yawDeg * Math.PI / 180
    const y = point[1] * Math.cos(pitch) - point[2] * Math.sin(pitch)
    const z = point[1] * Math.sin(pitch) + point[2] * Math.cos(pitch)
    return add(item.pos, [point[0] * Math.cos(yaw) + z * Math.sin(yaw), y,
                          -point[0] * Math.sin(yaw) + z * Math.cos(yaw)])
}

function path(ctx, cam, points, close) {
    ctx.beginPath()
    points.forEach((p, i) => {
        const s = project(cam, p)
        if (i === 0)
            ctx.moveTo(s.x, s.y)
        else
            ctx.lineTo(s.x, s.y)
    })
    if (close)
        ctx.closePath()
}

function strokePath(ctx, cam, points, style, width) {
    path(ctx, cam, points, false)
    ctx.strokeStyle = style
    ctx.lineWidth = width
    ctx.stroke()
}

function bounds(points) {
    const xs = points.map(p => p[0]), zs = points.map(p => p[2])
    return {x0: Math.min(...xs), x1: Math.max(...xs), z0: Math.min(...zs), z1: Math.max(...zs)}
}

function label(ctx, cam, point, text, font) {
    const s = project(cam, point)
    ctx.font = font
    ctx.fillStyle = "#FFFFFF"
    ctx.textAlign = "center"
    ctx.textBaseline = "middle"
    ctx.fillText(text, s.x, s.y)
}

function drawStage(ctx, cam, face) {
    const b = bounds(face.points), h = 0.8
    const top = [[b.x0, h, b.z0], [b.x1, h, b.z0], [b.x1, h, b.z1], [b.x0, h, b.z1]]
    path(ctx, cam, top, true)
    ctx.fillStyle = "rgba(74,142,255,0.10)"
    ctx.fill()
    ctx.strokeStyle = "rgba(120,170,255,0.65)"
    ctx.lineWidth = 1.4
    ctx.stroke()
    path(ctx, cam, [[b.x0, h, b.z1], [b.x1, h, b.z1], [b.x1, 0, b.z1], [b.x0, 0, b.z1]], true)
    ctx.fillStyle = "rgba(74,142,255,0.045)"
    ctx.fill()
    ctx.strokeStyle = "rgba(120,170,255,0.55)"
    ctx.stroke()
    for (const x of [b.x0, b.x1])
        strokePath(ctx, cam, [[x, h, b.z1], [x, 0, b.z1], [x, 0, b.z0], [x, h, b.z0]],
                   "rgba(120,170,255,0.38)", 1.1)
    label(ctx, cam, [(b.x0 + b.x1) / 2, h / 2, b.z1], "舞台", CanvasFont.font(14))
}

function drawFaces(ctx, cam, scene) {
    for (const face of scene.faces) {
        if (face.kind === "listen_area" || face.kind === "")
            continue
        const base = face.kind === "listen_area_base"
        path(ctx, cam, face.points, true)
        ctx.fillStyle = base ? "rgba(74,142,255,0.10)" : "rgba(255,255,255,0.035)"
        ctx.fill()
        ctx.strokeStyle = base ? "rgba(74,142,255,0.55)" : "rgba(255,255,255,0.28)"
        ctx.lineWidth = 1.4
        ctx.stroke()
    }
    const floor = scene.faces.find(f => f.kind === "listen_area_base")
    if (!floor)
        return
    const b = bounds(floor.points), y = 0.006
    for (let x = Math.ceil(b.x0); x <= b.x1; ++x)
        strokePath(ctx, cam, [[x, y, b.z0], [x, y, b.z1]], "rgba(255,255,255,0.055)", 0.6)
    for (let z = Math.ceil(b.z0); z <= b.z1; ++z)
        strokePath(ctx, cam, [[b.x0, y, z], [b.x1, y, z]], "rgba(255,255,255,0.055)", 0.6)
}

var mainStyles = {
    hidden_edges: ["rgba(236,242,252,0.20)", 0.7],
    front_drivers: ["rgba(120,170,255,0.82)", 0.9],
    front_horn: ["rgba(120,170,255,0.82)", 0.9],
    other: ["rgba(236,242,252,0.94)", 0.9]
}
var subStyles = {
    driver: ["rgba(120,170,255,0.80)", 0.8],
    driver_inner: ["rgba(120,170,255,0.55)", 0.9],
    other: ["rgba(120,180,255,0.95)", 0.9]
}

function drawWireframe(ctx, cam, item, model, styles) {
    for (const line of model.polylines) {
        const style = styles[line.group] || styles.other
        strokePath(ctx, cam, line.points.map(p => place(item, p)), style[0], style[1])
    }
}

// The main's axis from the middle of its front down to listening height (1 to 20 m long; 20 m
// when it does not point downwards).
function drawRay(ctx, cam, main) {
    const start = place(main, [0, 0.3245, 0.004])
    const forward = sub(place(main, [0, 0.3245, 1.004]), start)
    const length = forward[1] < 0 ? clamp((start[1] - 1.2) / -forward[1], 1, 20) : 20
    const end = add(start, mul(forward, length))
    strokePath(ctx, cam, [start, end], "rgba(120,170,255,0.88)", 1.6)
    const s = project(cam, end)
    ctx.beginPath()
    ctx.arc(s.x, s.y, 1.8, 0, 2 * Math.PI)
    ctx.fillStyle = "rgba(120,170,255,0.88)"
    ctx.fill()
}

function drawMain(ctx, cam, scene, main, model) {
    strokePath(ctx, cam, [[main.pos[0], 0, main.pos[2]], main.pos], "rgba(255,255,255,0.12)", 0.7)
    drawWireframe(ctx, cam, main, model, mainStyles)
    if (scene.rays)
        drawRay(ctx, cam, main)
    const text = main.label || (main.pos[0] < 0 ? "主扩 L" : "主扩 R")
    label(ctx, cam, add(main.pos, [0, 0.78, 0]), text, CanvasFont.font(12))
}

// Subwoofers stacked or side by side share a label: each joins the first group whose running
// middle lies within 2.0 m across and 1.5 m in depth, else starts its own.
function subGroups(subs) {
    const groups = []
    for (const item of subs) {
        const [x, y, z] = item.pos
        const group = groups.find(g => Math.abs(g.x - x) <= 2.0 && Math.abs(g.z - z) <= 1.5)
        if (group) {
            group.x = (group.x * group.count + x) / (group.count + 1)
            group.z = (group.z * group.count + z) / (group.count + 1)
            group.y = Math.max(group.y, y)
            ++group.count
        } else {
            groups.push({x: x, y: y, z: z, count: 1})
        }
    }
    return groups
}

function drawMic(ctx, cam, mic) {
    const foot = project(cam, [mic[0], 0, mic[2]])
    const head = project(cam, mic)
    const green = "rgba(47,166,108,0.95)"
    ctx.beginPath()
    ctx.moveTo(foot.x, foot.y)
    ctx.lineTo(head.x, head.y)
    ctx.strokeStyle = green
    ctx.lineWidth = 1.8
    ctx.stroke()
    const r = clamp(9.5 * 19 / head.depth, 7.0, 12.3)
    ctx.save()
    ctx.translate(foot.x, foot.y)
    ctx.scale(1, 0.55)
    ctx.beginPath()
    ctx.arc(0, 0, 0.36 * r, 0, 2 * Math.PI)
    ctx.restore()
    ctx.strokeStyle = "rgba(255,255,255,0.46)"
    ctx.lineWidth = 1
    ctx.stroke()
    ctx.beginPath()
    ctx.arc(head.x, head.y, r, 0, 2 * Math.PI)
    ctx.fillStyle = "rgba(9,13,20,0.94)"
    ctx.fill()
    ctx.strokeStyle = green
    ctx.lineWidth = 1.4
    ctx.stroke()
    ctx.fillStyle = "#FFFFFF"
    ctx.font = CanvasFont.font(Math.max(10, 1.05 * r), true)
    ctx.textAlign = "center"
    ctx.textBaseline = "middle"
    ctx.fillText("麦", head.x, head.y)
}

// The whole picture of `scene` (models from `data`) on a width x height canvas in item units.
function paint(ctx, data, scene, width, height, view) {
    const cam = camera(scene, width, height, view)
    const stage = scene.faces.find(f => f.kind === "")
    if (stage)
        drawStage(ctx, cam, stage)
    drawFaces(ctx, cam, scene)
    const cabinets = scene.mains.map(m => ({item: m, main: true}))
                      .concat(scene.subs.map(s => ({item: s, main: false})))
    cabinets.forEach(c => c.depth = project(cam, c.item.pos).depth)
    cabinets.sort((a, b) => b.depth - a.depth)
    for (const c of cabinets) {
        if (c.main)
            drawMain(ctx, cam, scene, c.item, data.cabinet)
        else
            drawWireframe(ctx, cam, c.item, data.subwoofer, subStyles)
    }
    for (const group of subGroups(scene.subs))
        label(ctx, cam, [group.x, group.y + 0.95, group.z], "超低", CanvasFont.font(12))
    for (const mic of scene.mics)
        drawMic(ctx, cam, mic)
    ctx.fillStyle = "#FFFFFF"
    ctx.font = CanvasFont.font(12)
    ctx.textAlign = "left"
    ctx.textBaseline = "alphabetic"
    ctx.fillText("拖动旋转 · 滚轮缩放 · 双击复位", 16, 25)
}
