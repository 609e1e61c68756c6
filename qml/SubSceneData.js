.pragma library

// The subwoofer guide's venues in metres: x to the right, y up, z from the stage towards the
// audience. Two wireframes (a main loudspeaker and a subwoofer box, front face at z = 0, standing
// on y = 0) and three scenes that place them with the microphone.

function box(group, x0, x1, y0, y1, z0, z1) {
    return [
        {group: group, points: [[x0, y0, z1], [x1, y0, z1], [x1, y1, z1], [x0, y1, z1], [x0, y0, z1]]},
        {group: group, points: [[x0, y0, z0], [x1, y0, z0], [x1, y1, z0], [x0, y1, z0], [x0, y0, z0]]}
    ]
}

function circle(group, cx, cy, z, r) {
    const points = []
    for (let i = 0; i <= 24; ++i) {
        const a = i / 24 * 2 * Math.PI
        points.push([cx + r * Math.cos(a), cy + r * Math.sin(a), z])
    }
    return {group: group, points: points}
}

function line(group, a, b) {
    return {group: group, points: [a, b]}
}

// A two-way box, 0.406 wide, 0.649 high and 0.422 deep: the three edges meeting at the lower
// back left corner are hidden behind it; two woofers and the horn's driver on the front, the
// horn's mouth and throat above them.
var cabinet = (function () {
    const x0 = -0.203, x1 = 0.203, y1 = 0.649, z0 = -0.422, z1 = 0
    const c = (x, y, z) => [x, y, z]
    return {
        polylines: [
            line("hidden_edges", c(x0, 0, z0), c(x1, 0, z0)),
            line("hidden_edges", c(x0, 0, z0), c(x0, y1, z0)),
            line("hidden_edges", c(x0, 0, z0), c(x0, 0, z1)),
            line("cabinet_edges", c(x0, 0, z1), c(x1, 0, z1)),
            line("cabinet_edges", c(x1, 0, z1), c(x1, y1, z1)),
            line("cabinet_edges", c(x1, y1, z1), c(x0, y1, z1)),
            line("cabinet_edges", c(x0, y1, z1), c(x0, 0, z1)),
            line("cabinet_edges", c(x1, 0, z1), c(x1, 0, z0)),
            line("cabinet_edges", c(x1, 0, z0), c(x1, y1, z0)),
            line("cabinet_edges", c(x1, y1, z0), c(x0, y1, z0)),
            line("cabinet_edges", c(x1, y1, z1), c(x1, y1, z0)),
            line("cabinet_edges", c(x0, y1, z1), c(x0, y1, z0)),
            circle("front_drivers", 0, 0.165, 0.004, 0.120),
            circle("front_drivers", 0, 0.165, 0.004, 0.045),
            circle("front_drivers", 0, 0.4, 0.004, 0.030),
            {group: "front_horn", points: [c(-0.17, 0.33, 0.002), c(0.17, 0.33, 0.002),
                                           c(0.17, 0.61, 0.002), c(-0.17, 0.61, 0.002),
                                           c(-0.17, 0.33, 0.002)]},
            {group: "front_horn", points: [c(-0.17, 0.33, 0.002), c(-0.03, 0.37, 0.004),
                                           c(0.03, 0.37, 0.004), c(0.17, 0.33, 0.002)]}
        ]
    }
})()

// A double 18-inch box, 1.21 wide, 0.75 high and 0.8 deep: front and back outlines with the four
// edges between them, two drivers with their caps, and the two posts between the drivers.
var subwoofer = (function () {
    const x0 = -0.605, x1 = 0.605, y1 = 0.75, z0 = -0.8, z1 = 0
    const polylines = box("cabinet", x0, x1, 0, y1, z0, z1)
    for (const x of [x0, x1])
        for (const y of [0, y1])
            polylines.push(line("cabinet", [x, y, z0], [x, y, z1]))
    for (const x of [-0.3, 0.3])
        polylines.push(circle("driver", x, 0.375, 0.008, 0.24))
    for (const x of [-0.3, 0.3])
        polylines.push(circle("driver_inner", x, 0.375, 0.008, 0.09))
    for (const x of [-0.02, 0.02])
        polylines.push(line("brace", [x, 0.03, 0.004], [x, 0.72, 0.004]))
    return {polylines: polylines}
})()

function faces() {
    const area = (y) => [[-5.042, y, 0], [5.042, y, 0], [5.042, y, 15.502], [-5.042, y, 15.502]]
    return [
        {kind: "listen_area_base", points: area(0)},
        {kind: "listen_area", points: area(1.2)},
        {kind: "", points: [[-2.885, 0, -4.090], [3.177, 0, -4.090], [3.177, 0, -0.029],
                            [-2.885, 0, -0.029]]}
    ]
}

var leftMain = {pos: [-2.189, 2.821, -0.008], yawDeg: -0.499, pitchDeg: 27.868}
var rightMain = {pos: [2.188, 2.821, -0.056], yawDeg: 0.499, pitchDeg: 27.868}

var center = {
    faces: faces(),
    mains: [rightMain, leftMain],
    subs: [{pos: [-0.612, 0, -0.034], yawDeg: 0, pitchDeg: 0},
           {pos: [0.598, 0, -0.034], yawDeg: 0, pitchDeg: 0}],
    mics: [[-0.018, 1.2, 7.540]],
    note: "超低在舞台中间：话筒放在主扩和超低的共同覆盖区"
}

var side = {
    faces: faces(),
    mains: [rightMain, leftMain],
    subs: [{pos: [-2.175, 0, -0.001], yawDeg: 0, pitchDeg: 0},
           {pos: [2.175, 0, -0.001], yawDeg: 0, pitchDeg: 0}],
    mics: [[-1.997, 1.2, 7.957]],
    note: "超低在两侧：话筒放在任意一侧，开单侧主扩和单侧超低"
}

var point = {
    faces: faces(),
    mains: [{pos: leftMain.pos, yawDeg: leftMain.yawDeg, pitchDeg: leftMain.pitchDeg,
             label: "点声源"}],
    subs: [],
    mics: [[-2.253, 2.128, 1.997]],
    note: null
}
