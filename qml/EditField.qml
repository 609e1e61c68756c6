import QtQuick

// A number box of the delivery screen. It shows `shownText` (the bridge's value) except while it
// has focus, so that a change arriving while the engineer types does not overwrite the typing;
// leaving it reads the value again. Every edit is handed on as typed.
Rectangle {
    id: box

    property string shownText
    property alias input: field
    readonly property alias text: field.text

    signal edited(string text)
    signal refreshed

    function refresh() {
        if (field.activeFocus)
            return
        field.text = shownText
        refreshed()
    }

    // The number typed, or NaN for an empty or malformed text.
    function number() {
        const trimmed = field.text.trim()
        return trimmed === "" ? NaN : Number(trimmed)
    }

    implicitWidth: 96
    implicitHeight: 34
    radius: height / 2
    color: bridge.theme.line06
    border.width: 1
    border.color: field.activeFocus ? bridge.theme.text70 : bridge.theme.line25

    onShownTextChanged: refresh()
    Component.onCompleted: refresh()

    TextInput {
        id: field
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        verticalAlignment: TextInput.AlignVCenter
        horizontalAlignment: TextInput.AlignHCenter
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        selectByMouse: true
        inputMethodHints: Qt.ImhFormattedNumbersOnly
        onTextEdited: box.edited(text)
        onActiveFocusChanged: box.refresh()
        onAccepted: focus = false
    }
}
