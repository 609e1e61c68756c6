import QtQuick

// One row of a settings card: a rule above, the label on the left and the control (the row's
// children) at its right end.
Item {
    id: row

    property string label
    default property alias control: slot.data

    width: parent ? parent.width : 430
    height: 42

    Rectangle {
        width: parent.width
        height: 1
        color: bridge.theme.line
    }

    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: row.label
        color: bridge.theme.text70
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
    }

    Item {
        id: slot
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: childrenRect.width
        height: childrenRect.height
    }
}
