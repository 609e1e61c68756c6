import QtQuick

// The thin progress bar of the measuring screens: `value` of its width filled.
Rectangle {
    property real value: 0

    x: 60
    width: 480
    height: 5
    radius: 3
    color: bridge.theme.line25

    Rectangle {
        objectName: "progressFill"
        height: parent.height
        radius: parent.radius
        width: parent.width * parent.value
        color: bridge.theme.text

        Behavior on width {
            NumberAnimation {
                duration: 100
            }
        }
    }
}
