import QtQuick
import Sonetra 1.0

// The chart of every screen. Its texture grows with the window against the 600 x 1145 design
// size, by at most twice.
CurveChartItem {
    renderScale: Window.window ? Math.max(1, Math.min(2, Math.min(Window.width / 600,
                                                                  Window.height / 1145))) : 1
}
