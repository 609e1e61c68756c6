import QtQuick

// What the panel shows for a processor make whose protocol is not supported yet.
Item {
    id: placeholder

    property string deviceName

    Column {
        anchors.centerIn: parent
        spacing: 12

        UiImage {
            objectName: "processorPicture"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 240
            height: 96
            source: "qrc:/icons/s-snt-processor.png"
            oversample: 2
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "准备支持"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 18
            font.bold: true
        }
        Text {
            objectName: "placeholderText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: placeholder.deviceName + " 的协议还没接，入口先留在这里。"
            color: bridge.theme.text70
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "已排期：雅士尼、百威、玛朗尼、中创、晶锐、诺讯"
            color: bridge.theme.text50
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 12
        }
    }
}
