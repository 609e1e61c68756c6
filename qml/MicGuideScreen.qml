import QtQuick

// "测量引导": before a line-array measurement, how to spread the microphone positions over the
// audience area, with a small 3-D venue; its button starts the line-array measurement.
Item {
    id: screen

    readonly property var sections: [
        {title: "1. 先确定线阵列覆盖距离", body: "目测或者模拟都可以"},
        {title: "2. 覆盖区三段",
            body: "把整个覆盖区 分成前场中场后场\n避免在最前场 和最后场 极端位置测量取点"},
        {title: "3. 测量麦克风左右交替摆类似斑马布局",
            body: "每个点往左或往右挪半米到一米，左右交替\n避免每一个点与墙壁平行 最优解是打破规律 多点取样"},
        {title: "4. 话筒高度",
            body: "地面反射不明显时 按观众听音高度 1米以上即可\n地面反射严重 中低频出现大量低谷 麦克风头贴地朝向阵列，用界面法测量"},
        {title: "5. 测量点位数量", body: "把覆盖区去掉极端位置分成几个等份\n3 点-8个点 至少3点以上"}
    ]

    width: 600
    height: 1145

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    TopBar {
        showProjectName: true
    }

    Text {
        x: 33
        y: 95
        text: "测量引导"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
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

        MicGuideScene {
            objectName: "guideScene"
            anchors.fill: parent
            dark: bridge.darkMode
        }
    }

    Flickable {
        id: list
        objectName: "guideSections"
        x: 33
        y: 461
        width: 535
        height: 575
        contentHeight: column.height
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: column
            width: list.width
            spacing: 16

            Repeater {
                model: screen.sections

                Column {
                    required property var modelData
                    required property int index
                    width: column.width
                    spacing: 6

                    Rectangle {
                        visible: index > 0
                        width: parent.width
                        height: 1
                        color: bridge.theme.line
                    }
                    Text {
                        topPadding: index > 0 ? 10 : 0
                        text: modelData.title
                        color: bridge.theme.text
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 17
                        font.bold: true
                    }
                    Text {
                        width: parent.width
                        text: modelData.body
                        wrapMode: Text.WordWrap
                        lineHeight: 1.55
                        color: bridge.theme.text70
                        font.family: "Microsoft YaHei UI"
                        font.pixelSize: 15
                    }
                }
            }
        }
    }

    Rectangle {
        objectName: "sectionScrollIndicator"
        visible: list.contentHeight > list.height
        x: list.x + list.width + 6
        y: list.y + list.visibleArea.yPosition * list.height
        width: 3
        height: Math.max(35, list.visibleArea.heightRatio * list.height)
        radius: 1.5
        color: bridge.theme.text
        opacity: 0.22
    }

    Rectangle {
        y: 1047
        width: parent.width
        height: 1
        color: bridge.theme.line
    }

    Rectangle {
        objectName: "hideGuideToggle"
        x: 33
        y: 1053
        width: 125
        height: 38
        radius: 19
        color: bridge.measureGuideHidden ? bridge.theme.blue : "transparent"
        border.width: bridge.measureGuideHidden ? 0 : 1
        border.color: bridge.theme.line25

        Text {
            anchors.centerIn: parent
            text: "不再显示"
            color: bridge.measureGuideHidden ? "#FFFFFF" : bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: bridge.measureGuideHidden = !bridge.measureGuideHidden
        }
    }

    PillButton {
        objectName: "startArrayButton"
        anchors.right: parent.right
        anchors.rightMargin: 33
        y: 1061
        width: 120
        height: 48
        fontSize: 17
        pad: 14
        text: "开始测量"
        onClicked: bridge.beginArrayMeasurement()
    }
}
