import QtQuick

// The motion constants every screen shares: entry, hover and page-change timings, the hover
// cascade of the rows below a hovered one, and the easing curve "silk" as a cubic Bezier for
// easing.bezierCurve.
QtObject {
    readonly property int enterDuration: 620
    readonly property int enterStagger: 120
    readonly property int hoverDuration: 460
    readonly property int pageFade: 220
    readonly property int pageSlide: 360
    readonly property real hoverShift: 22
    readonly property var cascadeShifts: [11, 8, 6, 4.5, 3.2, 2.2]
    readonly property var cascadeDelays: [30, 60, 90, 120, 150]
    readonly property var silk: [0.3, 0.9, 0.3, 1.0, 1, 1]
}
