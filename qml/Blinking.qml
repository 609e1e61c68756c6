import QtQuick
import QtQuick.Window
import Sonetra 1.0

// The blink of a control that asks to be looked at: the target's opacity runs 1.0 → 0.45 → 1.0,
// 700 ms each way with a sine ease, for as long as `running` holds, and settles at 1. It moves in
// the slow clock's steps (eight a second), not at the display's rate, and rests while the window is
// hidden or minimised.
Item {
    id: blink

    property Item target
    property bool running: false

    function settle() {
        if (target)
            target.opacity = 1
    }

    readonly property bool shown: Window.visibility !== Window.Hidden
                                  && Window.visibility !== Window.Minimized

    visible: false
    onRunningChanged: if (!running) settle()

    StepClock {
        id: clock
        running: blink.running && blink.shown
        onSecondsChanged: {
            if (!blink.target)
                return
            const phase = seconds % 1.4 / 0.7 // 0 .. 2: down, then up again
            blink.target.opacity = 1 - 0.55 * (1 - Math.cos(Math.PI * phase)) / 2
        }
    }
}
