import QtQuick
import QtQuick.Controls

// The subwoofer flow's guide: where the microphone goes, with the two venues and four tips.
Flickable {
    id: guide

    readonly property var tips: [
        {title: "1. 测点选在共同覆盖区",
         body: "超低在中间时，话筒放在场地之中主扩和超低的共同覆盖区，挑最有代表性的位置做耦合；耦合的时候开单侧主扩与全部超低"},
        {title: "2. 超低在单侧或两侧", body: "话筒放在任意一侧都可以，开单侧主扩和单侧超低"},
        {title: "3. 场地对低频不友好",
         body: "建议话筒放在地面，用界面法测量；耦合的时候因为距离主扩较远，高频滑落滚降属于正常现象"},
        {title: "4. 结果怎么算达标",
         body: "80% 以上的室内耦合结果只是参考，不可能完美，不用过于在意；只要超低和全频在大部分位置不处于抵消区，就视为达标"}
    ]

    y: 95
    width: 600
    height: 942
    contentWidth: width
    contentHeight: column.height + 40
    boundsBehavior: Flickable.StopAtBounds
    clip: true

    ScrollIndicator.vertical: ScrollIndicator {
        visible: guide.contentHeight > guide.height
    }

    component GuideText: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
    }

    component SceneCard: Column {
        property alias scene: view.scene
        property alias caption: captionText.text
        property alias viewName: view.objectName

        spacing: 10

        // Clear of the side tabs at the window's right edge (up to 40 px wide when active).
        Rectangle {
            width: 520
            height: 300
            radius: 20
            color: "#0B0D12"
            clip: true

            SubSceneView {
                id: view
                anchors.fill: parent
            }
        }
        GuideText {
            id: captionText
            font.pixelSize: 16
            opacity: 0.8
        }
    }

    Column {
        id: column
        x: 33
        width: 535
        spacing: 18

        GuideText {
            text: "话筒怎么摆"
            font.pixelSize: 27
            font.bold: true
        }
        SceneCard {
            viewName: "centerScene"
            scene: "center"
            caption: "超低在舞台中间"
        }
        SceneCard {
            viewName: "sideScene"
            scene: "side"
            caption: "超低在两侧或者单侧"
        }
        Repeater {
            model: guide.tips

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
}
