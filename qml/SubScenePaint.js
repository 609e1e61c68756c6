.pragma library
.import "VenueCamera.js" as Space

// The subwoofer guide's venue drawn on a 2-D canvas: a perspective camera fitted to the scene,
// turned about the main loudspeakers' middle, and the picture from the floor up. The texts are
// not drawn here: paint() returns where they go, so that text items lay them over the canvas
// (their glyphs do not change while the picture turns). What the view does not change is made
// once a scene, and the code run for every picture loops by index: each object left behind
// brings the garbage collector's next run, which doubles its frame, nearer.

var add = Space.add, sub = Space.sub, mul = Space.mul, clamp = Space.clamp
var project = Space.project
var fov = 30 * Math.PI / 180

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
// fitted so that the scene's points fill 92 % of the view around their middle, then moved in by
// the zoom.
function camera(scene, width, height, view) {
    const elevation = clamp(0.16 + view.pitch, 0.05, 0.85)
    const azimuth = -0.78
    const cam = {
        width: width, height: height, yaw: view.yaw, pivot: pivot(scene),
        focal: height / 2 / Math.tan(fov / 2), target: scene.target || [0, 1.3, 3.4],
        distance: 24, back: [Math.sin(azimuth) * Math.cos(elevation), Math.sin(elevation),
                             Math.cos(azimuth) * Math.cos(elevation)]
    }
    Space.fit(cam, shapesOf(scene).frame, 0.92)
    cam.distance /= view.zoom
    Space.place(cam)
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

// The polylines as one path in one style: one stroke instead of one a line.
function strokeLines(ctx, cam, lines, style, width) {
    ctx.beginPath()
    for (let i = 0; i < lines.length; ++i)
        Space.trace(ctx, cam, lines[i], false)
    ctx.strokeStyle = style
    ctx.lineWidth = width
    ctx.stroke()
}

function bounds(points) {
    const xs = points.map(p => p[0]), zs = points.map(p => p[2])
    return {x0: Math.min(...xs), x1: Math.max(...xs), z0: Math.min(...zs), z1: Math.max(...zs)}
}

// A text centred on the projected point.
function label(cam, point, text, size, bold) {
    const s = Space.projectInto(cam, point, Space.spot)
    return {text: text, x: s.x, y: s.y, size: size, bold: !!bold}
}

// A cabinet's name, standing on the projected point (centred across it), so that it never covers
// the cabinet under it or the stage's name in front of it.
function nameAbove(cam, point, text) {
    const name = label(cam, point, text, 12)
    name.above = true
    return name
}

// The camera of the last picture, for the layer drawn next with the same view.
var lastCamera = null
function cameraFor(scene, width, height, view) {
    const last = lastCamera
    if (!last || last.scene !== scene || last.width !== width || last.height !== height
            || last.yaw !== view.yaw || last.pitch !== view.pitch || last.zoom !== view.zoom)
        lastCamera = {scene: scene, width: width, height: height, yaw: view.yaw,
                      pitch: view.pitch, zoom: view.zoom, cam: camera(scene, width, height, view)}
    return lastCamera.cam
}

// The stage: the bounds of the face whose kind is empty, extruded to a box 0.8 m high.
function stageBox(scene) {
    const face = scene.faces.find(f => f.kind === "")
    if (!face)
        return null
    const b = bounds(face.points), h = 0.8
    return {
        top: [[b.x0, h, b.z0], [b.x1, h, b.z0], [b.x1, h, b.z1], [b.x0, h, b.z1]],
        front: [[b.x0, h, b.z1], [b.x1, h, b.z1], [b.x1, 0, b.z1], [b.x0, 0, b.z1]],
        sides: [b.x0, b.x1].map(x => [[x, h, b.z1], [x, 0, b.z1], [x, 0, b.z0], [x, h, b.z0]]),
        middle: [(b.x0 + b.x1) / 2, h / 2, b.z1]
    }
}

// The faces drawn besides the stage: the audience floor and any other kind.
function floorFaces(scene) {
    return scene.faces.filter(f => f.kind !== "listen_area" && f.kind !== "")
}

function fillPath(ctx, cam, points, style) {
    Space.path(ctx, cam, points, true)
    ctx.fillStyle = style
    ctx.fill()
}

function strokePath(ctx, cam, points, style, width) {
    Space.path(ctx, cam, points, true)
    ctx.strokeStyle = style
    ctx.lineWidth = width
    ctx.stroke()
}

// Lines on every whole metre in x and in z over the audience floor, just above it.
function floorGrid(scene) {
    const floor = scene.faces.find(f => f.kind === "listen_area_base")
    if (!floor)
        return []
    const b = bounds(floor.points), y = 0.006
    const lines = []
    for (let x = Math.ceil(b.x0); x <= b.x1; ++x)
        lines.push([[x, y, b.z0], [x, y, b.z1]])
    for (let z = Math.ceil(b.z0); z <= b.z1; ++z)
        lines.push([[b.x0, y, z], [b.x1, y, z]])
    return lines
}

// What a scene holds that no view changes, made once for the scene drawn last: the points the
// camera is fitted to, the stage box, the faces besides it, the floor grid, the cabinets (mains
// first) with the mains' stands, names and rays, and where the subwoofers' label groups stand.
// (Kept beside the scene, not in a WeakMap keyed by it: this engine's WeakMap can crash once a
// key it holds has been collected.)
var lastShapes = null
function shapesOf(scene) {
    if (!lastShapes || lastShapes.scene !== scene) {
        const cabinets = scene.mains.map(m => ({item: m, main: mainShapes(m), depth: 0}))
                          .concat(scene.subs.map(s => ({item: s, main: null, depth: 0})))
        lastShapes = {scene: scene, frame: framePoints(scene), stage: stageBox(scene),
                      faces: floorFaces(scene), grid: floorGrid(scene), cabinets: cabinets,
                      order: [], groupNames: groupNamePoints(scene.subs)}
    }
    return lastShapes
}

// What lies beneath the rest and needs no smooth edges: the translucent fills of the stage and
// the faces (their outlines are stroked over them) and the faint floor grid.
function paintUnder(ctx, scene, width, height, view) {
    const cam = cameraFor(scene, width, height, view)
    const {stage, faces, grid} = shapesOf(scene)
    if (stage) {
        fillPath(ctx, cam, stage.top, "rgba(74,142,255,0.10)")
        fillPath(ctx, cam, stage.front, "rgba(74,142,255,0.045)")
    }
    for (let i = 0; i < faces.length; ++i)
        fillPath(ctx, cam, faces[i].points, faces[i].kind === "listen_area_base"
                 ? "rgba(74,142,255,0.10)" : "rgba(255,255,255,0.035)")
    strokeLines(ctx, cam, grid, "rgba(255,255,255,0.055)", 0.6)
}

function drawOutlines(ctx, cam, scene, labels) {
    const {stage, faces} = shapesOf(scene)
    if (stage) {
        strokePath(ctx, cam, stage.top, "rgba(120,170,255,0.65)", 1.4)
        strokePath(ctx, cam, stage.front, "rgba(120,170,255,0.55)", 1.4)
        strokeLines(ctx, cam, stage.sides, "rgba(120,170,255,0.38)", 1.1)
        labels.push(label(cam, stage.middle, "舞台", 14))
    }
    for (let i = 0; i < faces.length; ++i)
        strokePath(ctx, cam, faces[i].points, faces[i].kind === "listen_area_base"
                   ? "rgba(74,142,255,0.55)" : "rgba(255,255,255,0.28)", 1.4)
}

// The wireframes' styles by group: colour and line width, in the order they are stroked.
var mainStyles = [
    {groups: ["hidden_edges"], color: "rgba(236,242,252,0.20)", width: 0.7},
    {groups: null, color: "rgba(236,242,252,0.94)", width: 0.9},
    {groups: ["front_drivers", "front_horn"], color: "rgba(120,170,255,0.82)", width: 0.9}
]
var subStyles = [
    {groups: null, color: "rgba(120,180,255,0.95)", width: 0.9},
    {groups: ["driver"], color: "rgba(120,170,255,0.80)", width: 0.8},
    {groups: ["driver_inner"], color: "rgba(120,170,255,0.55)", width: 0.9}
]

// A cabinet's polylines placed in the scene, grouped by style; they do not change while the
// picture turns, so each cabinet is placed once.
var placed = new WeakMap()
function placedLines(item, model, styles) {
    let batches = placed.get(item)
    if (!batches) {
        const named = styles.filter(style => style.groups).map(style => style.groups)
        const styleOf = group => styles.find(style => style.groups
                                             ? style.groups.indexOf(group) >= 0
                                             : !named.some(groups => groups.indexOf(group) >= 0))
        batches = styles.map(style => ({
            color: style.color, width: style.width,
            lines: model.polylines.filter(line => styleOf(line.group) === style)
                                  .map(line => line.points.map(p => place(item, p)))
        }))
        placed.set(item, batches)
    }
    return batches
}

function drawWireframe(ctx, cam, item, model, styles) {
    const batches = placedLines(item, model, styles)
    for (let i = 0; i < batches.length; ++i)
        strokeLines(ctx, cam, batches[i].lines, batches[i].color, batches[i].width)
}

// The main's axis from the middle of its front down to listening height (1 to 20 m long; 20 m
// when it does not point downwards).
function mainRay(main) {
    const start = place(main, [0, 0.3245, 0.004])
    const forward = sub(place(main, [0, 0.3245, 1.004]), start)
    const length = forward[1] < 0 ? clamp((start[1] - 1.2) / -forward[1], 1, 20) : 20
    return [start, add(start, mul(forward, length))]
}

// A main's lines and points that no view changes: its stand down to the floor, where its name
// stands, its axis.
function mainShapes(main) {
    return {stand: [[[main.pos[0], 0, main.pos[2]], main.pos]],
            name: add(main.pos, [0, 0.78, 0]), ray: [mainRay(main)]}
}

function drawRay(ctx, cam, ray) {
    strokeLines(ctx, cam, ray, "rgba(120,170,255,0.88)", 1.6)
    const s = Space.projectInto(cam, ray[0][1], Space.spot)
    ctx.beginPath()
    ctx.arc(s.x, s.y, 1.8, 0, 2 * Math.PI)
    ctx.fillStyle = "rgba(120,170,255,0.88)"
    ctx.fill()
}

function drawMain(ctx, cam, scene, main, shapes, model, labels) {
    strokeLines(ctx, cam, shapes.stand, "rgba(255,255,255,0.12)", 0.7)
    drawWireframe(ctx, cam, main, model, mainStyles)
    if (scene.rays)
        drawRay(ctx, cam, shapes.ray)
    const text = main.label || (main.pos[0] < 0 ? "主扩 L" : "主扩 R")
    labels.push(nameAbove(cam, shapes.name, text))
}

// Subwoofers stacked or side by side share a label: each joins the first group whose running
// middle lies within 2.0 m across and 1.5 m in depth, else starts its own.
function subGroups(subs) {
    const groups = []
    for (let i = 0; i < subs.length; ++i) {
        const x = subs[i].pos[0], y = subs[i].pos[1], z = subs[i].pos[2]
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

// Where each group's shared label stands.
function groupNamePoints(subs) {
    return subGroups(subs).map(g => [g.x, g.y + 0.95, g.z])
}

// The projected foot and head of the microphone.
var micFoot = {x: 0, y: 0, depth: 0, z: 0}
var micHead = {x: 0, y: 0, depth: 0, z: 0}

function drawMic(ctx, cam, mic, labels) {
    const foot = Space.projectInto(cam, [mic[0], 0, mic[2]], micFoot)
    const head = Space.projectInto(cam, mic, micHead)
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
    labels.push({text: "麦", x: head.x, y: head.y, size: Math.max(10, Math.round(1.05 * r)),
                 bold: true})
}

// The picture of `scene` (models from `data`) over paintUnder()'s on a width x height canvas in
// item units, from the floor up; returns its texts ({text, x, y, size, bold, above}: centred on
// x, y, or with `above` standing on it), in the order they lie over each other.
function paint(ctx, data, scene, width, height, view) {
    const cam = cameraFor(scene, width, height, view)
    const labels = []
    drawOutlines(ctx, cam, scene, labels)
    const shapes = shapesOf(scene)
    const cabinets = shapes.cabinets
    for (let i = 0; i < cabinets.length; ++i)
        cabinets[i].depth = Space.projectInto(cam, cabinets[i].item.pos, Space.spot).depth
    const order = Space.farFirst(cabinets, shapes.order)
    for (let i = 0; i < order.length; ++i) {
        if (order[i].main)
            drawMain(ctx, cam, scene, order[i].item, order[i].main, data.cabinet, labels)
        else
            drawWireframe(ctx, cam, order[i].item, data.subwoofer, subStyles)
    }
    const groupNames = shapes.groupNames
    for (let i = 0; i < groupNames.length; ++i)
        labels.push(nameAbove(cam, groupNames[i], "超低"))
    for (let i = 0; i < scene.mics.length; ++i)
        drawMic(ctx, cam, scene.mics[i], labels)
    return labels
}
