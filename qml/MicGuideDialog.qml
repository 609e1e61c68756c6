import QtQuick

// "话筒怎么摆": before a point-source measurement, where the microphone goes, over the whole stage.
// Open exactly while the bridge's micGuideOpen is true.
Item {
    id: dialog

    readonly property var tips: [
        {title: "1. 频响曲线需要近场测量", body: "离音箱的距离 = 音箱最长边 × 2 到 6 倍"},
        {title: "2. 话筒准确对准音箱声学中心", body: "两只喇叭的正中间 · 话筒正对这一点"},
        {title: "3. 如果音箱挂得很高 需要把话筒也支高", body: "话筒离远了 会过多地受环境声干扰"}
    ]

    anchors.fill: parent
    visible: bridge.micGuideOpen
    z: 100

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg

        MouseArea {
            anchors.fill: parent
        }
    }

    TopBar {
        title: "点声源"
        showBack: false
        showHome: false
        showProjectName: true
        // The check button stands 10 px left of the close button, not under it.
        endMargin: 33 + 38 + 10
    }

    IconButton {
        objectName: "closeGuide"
        anchors.right: parent.right
        anchors.rightMargin: 33
        y: 19
        size: 38
        inset: 9
        bordered: false
        icon: "i-del"
        onClicked: bridge.micGuideOpen = false
    }

    GuideText {
        x: 33
        y: 95
        text: "话筒怎么摆"
        font.pixelSize: 27
        font.bold: true
    }

    // Clear of the side tabs at the window's right edge (up to 40 px wide when active).
    Rectangle {
        x: 33
        y: 145
        width: 520
        height: 300
        radius: 20
        color: bridge.darkMode ? "#0B0D12" : bridge.theme.cardSolid
        border.width: bridge.darkMode ? 0 : 1
        border.color: bridge.theme.line
        clip: true

        // The point-source scene of the shared venue view.
        Loader {
            objectName: "pointScene"
            anchors.fill: parent
            source: "SubSceneView.qml"
            onLoaded: item.scene = "point"
        }
    }

    Column {
        x: 33
        y: 461
        width: 535
        spacing: 16

        Repeater {
            model: dialog.tips

            Column {
                required property var modelData
                required property int index
                width: 535
                spacing: 6

                Rectangle {
                    visible: index > 0
                    width: parent.width
                    height: 1
                    color: bridge.theme.line
                }
                GuideText {
                    text: modelData.title
                    font.pixelSize: 17
                    font.bold: true
                }
                GuideText {
                    width: parent.width
                    text: modelData.body
                    wrapMode: Text.WordWrap
                    lineHeight: 1.55
                    opacity: 0.7
                }
            }
        }
    }

    GuideText {
        x: 33
        y: 693
        text: "点声源 1.5–4 m 以内测量都算合理"
        opacity: 0.7
    }

    Rectangle {
        y: 1047
        width: parent.width
        height: 1
        color: bridge.theme.line
    }

    PillButton {
        objectName: "hideGuideButton"
        x: 33
        y: 1053
        width: 125
        height: 38
        fontSize: 14
        primary: false
        text: "不再显示"
        onClicked: {
            bridge.pointGuideHidden = true
            bridge.micGuideOpen = false
        }
    }

    PillButton {
        objectName: "startMeasureButton"
        anchors.right: parent.right
        anchors.rightMargin: 33
        y: 1061
        height: 52
        fontSize: 20
        pad: 33
        text: "开始测量"
        onClicked: {
            bridge.micGuideOpen = false
            bridge.startMeasure()
        }
    }

    component GuideText: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
    }
}
