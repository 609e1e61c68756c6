import QtQuick
import "Palette.js" as Palette

// The fully rounded text button: primary (a white-to-accent gradient with black bold text) or
// secondary (outlined). Disabled it shows at 40 % and takes no clicks.
Item {
    id: pill

    property string text
    property bool primary: true
    property bool hoverEffect: true
    property int fontSize: 16
    property real letterSpacing: 1.64
    property real pad: 33
    property color outlineColor: bridge.theme.line25
    property bool breath: false
    property string tip
    readonly property bool hovered: area.containsMouse

    signal clicked

    // Letter spacing also follows the last character, and a full-width closing bracket carries
    // its blank half on the right: shifting the label by half of that centres the visible text.
    readonly property real labelShift: /[）」》】]$/.test(text)
                                       ? (0.64 * fontSize + letterSpacing) / 2 : letterSpacing / 2

    implicitWidth: label.implicitWidth + 2 * pad
    implicitHeight: 46
    opacity: enabled ? 1 : 0.4

    Behavior on scale {
        NumberAnimation {
            duration: 180
        }
    }

    Breathing {
        target: pill
        running: pill.breath
    }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        // A primary pill is filled by its gradient. Its colour must not be transparent though:
        // Qt Quick draws nothing at all for a transparent rectangle without a border, gradient
        // or not, which left the dark palette's primary pills unfilled.
        color: pill.primary ? bridge.theme.accent
                            : pill.hovered && pill.hoverEffect ? bridge.theme.line06 : "transparent"
        gradient: pill.primary ? primaryFill : null
        border.width: !pill.primary || !bridge.darkMode ? 1 : 0
        border.color: pill.outlineColor

        Gradient {
            id: primaryFill
            GradientStop {
                position: 0
                color: Palette.white
            }
            GradientStop {
                position: 1
                color: bridge.theme.accent
            }
        }
    }

    Text {
        id: label
        anchors.centerIn: parent
        anchors.horizontalCenterOffset: pill.labelShift
        text: pill.text
        color: pill.primary ? Palette.black : bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: pill.fontSize
        font.bold: pill.primary
        font.letterSpacing: pill.letterSpacing
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: pill.clicked()
    }

    HoverTip {
        wanted: pill.hovered
        text: pill.tip
    }
}
