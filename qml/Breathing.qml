import QtQuick

// The breathing pulse of a button or a sentence that asks to be pressed next: the target's scale
// runs to `peak` and back, 700 ms each way, for as long as `running` holds, and settles at 1.
SequentialAnimation {
    id: pulse

    property Item target
    property real peak: 1.08

    loops: Animation.Infinite
    onRunningChanged: if (!running && target) target.scale = 1

    NumberAnimation {
        target: pulse.target
        property: "scale"
        to: pulse.peak
        duration: 700
        easing.type: Easing.InOutQuad
    }
    NumberAnimation {
        target: pulse.target
        property: "scale"
        to: 1
        duration: 700
        easing.type: Easing.InOutQuad
    }
}
