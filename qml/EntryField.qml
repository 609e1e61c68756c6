import QtQuick

// A small one-line text field. It shows `shown` (the owner's value as text); what the user
// types goes out through committed(text) when editing ends (Enter or leaving the field), after
// which the field shows the owner's value again, so a refused entry simply disappears. Only
// typed text goes out: leaving a field without typing sends nothing, and while nothing is typed
// a focused field follows the owner's value too (a point dragged on a chart, say), so leaving it
// never writes an older value back.
Rectangle {
    id: field

    property string shown
    property bool edited: false
    property int fontSize: 11
    property color ink: bridge.theme.text
    property alias readOnly: input.readOnly
    property alias placeholder: hint.text
    property alias input: input
    property int alignment: TextInput.AlignHCenter

    signal committed(string text)

    function restore() {
        input.text = shown
    }

    implicitWidth: 44
    implicitHeight: 18
    radius: 4
    color: "transparent"
    border.width: 1
    border.color: input.activeFocus ? "#4A8EFF" : Qt.rgba(ink.r, ink.g, ink.b, 0.25)
    opacity: readOnly ? 0.6 : 1

    onShownChanged: if (!input.activeFocus || !edited)
                        restore()

    TextInput {
        id: input
        objectName: "input"
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 4
        verticalAlignment: TextInput.AlignVCenter
        horizontalAlignment: field.alignment
        clip: true
        selectByMouse: true
        color: field.ink
        font.family: "Microsoft YaHei UI"
        font.pixelSize: field.fontSize
        Component.onCompleted: text = field.shown
        onActiveFocusChanged: if (activeFocus)
                                  selectAll()
        onTextEdited: field.edited = true
        onEditingFinished: {
            if (field.edited) {
                field.edited = false
                field.committed(text)
            }
            field.restore()
        }
    }

    Text {
        id: hint
        anchors.fill: input
        verticalAlignment: Text.AlignVCenter
        horizontalAlignment: Text.AlignHCenter
        visible: input.text === "" && !input.activeFocus
        color: Qt.rgba(field.ink.r, field.ink.g, field.ink.b, 0.5)
        font: input.font
    }
}
