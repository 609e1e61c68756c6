import QtQuick

// The choice of use: one card per computed scheme with its measured (dashed) and computed
// (solid) curves. The eye only looks at a scheme; the card or its arrow takes it on to the
// delivery screen.
Item {
    id: page

    // Read once per change and handed to the cards.
    readonly property var schemes: bridge.schemes

    width: 600
    height: 1145

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {}

    TopBar {
        showProjectName: true
    }

    Text {
        objectName: "title"
        x: 60
        y: 110
        text: "这只箱子干什么用"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 27
        font.bold: true
    }

    Text {
        x: 60
        y: 154
        text: "虚线＝测出来的  实线＝算完的  挑一条"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 20
    }

    Text {
        objectName: "emptyText"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 300
        visible: page.schemes.length === 0
        text: "还没有算完的结果"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 20
    }

    ListView {
        objectName: "schemeList"
        x: 60
        y: 210
        width: 480
        height: 769
        spacing: 16
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: page.schemes

        delegate: GlowCard {
            id: card
            required property var modelData
            required property int index

            objectName: "schemeCard" + index
            width: 480
            height: 115
            glowVisible: false

            MouseArea {
                objectName: "cardArea"
                width: eye.x
                height: parent.height
                cursorShape: Qt.PointingHandCursor
                onClicked: bridge.enterScheme(card.index)
            }

            MiniChart {
                objectName: "miniChart"
                x: 20
                y: (parent.height - height) / 2
                width: 142
                height: 71
                points: card.modelData.after || []
                points2: card.modelData.before || []
                coherence: card.modelData.coherence || []
            }

            Text {
                objectName: "schemeName"
                x: 180
                width: eye.x - 12 - x
                anchors.verticalCenter: parent.verticalCenter
                text: card.modelData.name
                color: bridge.theme.text
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 19
                font.bold: true
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }

            IconButton {
                id: eye
                objectName: "eyeButton"
                x: enter.x - 10 - width
                anchors.verticalCenter: parent.verticalCenter
                icon: "s-eye"
                onClicked: {
                    bridge.selectScheme(card.index)
                    bridge.planDetailOpen = true
                }
            }

            IconButton {
                id: enter
                objectName: "enterButton"
                x: parent.width - 20 - width
                anchors.verticalCenter: parent.verticalCenter
                icon: "s-caret"
                iconRotation: -90
                onClicked: bridge.enterScheme(card.index)
            }
        }
    }
}
