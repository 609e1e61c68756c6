import QtQuick
import "SubSceneData.js" as SceneData
import "SubScenePaint.js" as ScenePaint

// The subwoofer guide's small venue (stage, audience area, mains, subwoofers and the measuring
// microphone), turned and zoomed by hand. `scene` is one of SubSceneData's scenes, or its name.
SceneFrame {
    id: view

    property var scene: SceneData.center
    readonly property var sceneData: typeof scene === "string" ? SceneData[scene] : scene
    // The texts of the last picture ({text, x, y, size, bold, above}, centred on x, y in item
    // units, or with `above` standing on that point).
    property var labels: []
    property int labelCount: 0

    canvasName: "sceneCanvas"
    paintable: width * renderScale >= 40 && height * renderScale >= 40
    painter: (ctx, width, height) => {
                 if (!sceneData)
                     return
                 labels = ScenePaint.paint(ctx, SceneData, sceneData, width, height,
                                           {yaw: yaw, pitch: pitch, zoom: zoom})
                 if (labelCount !== labels.length)
                     labelCount = labels.length
             }

    underPainter: (ctx, width, height) => {
                      if (sceneData)
                          ScenePaint.paintUnder(ctx, sceneData, width, height,
                                                {yaw: yaw, pitch: pitch, zoom: zoom})
                  }

    onSceneDataChanged: repaint()
    Component.onCompleted: repaint()

    component Label: Text {
        color: "#FFFFFF"
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 12
    }

    // The texts lie over the picture: their glyphs are laid out once, not again as it turns.
    Item {
        anchors.fill: parent
        visible: view.paintable && !!view.sceneData

        Repeater {
            model: view.labelCount

            Label {
                objectName: "sceneLabel"
                readonly property var spot: view.labels[index] || {text: "", x: 0, y: 0, size: 12}

                x: spot.x - width / 2
                y: spot.above ? spot.y - height : spot.y - height / 2
                text: spot.text
                font.pixelSize: spot.size
                font.bold: !!spot.bold
            }
        }
        Label {
            x: 16
            y: 25 - baselineOffset
            text: "拖动旋转 · 滚轮缩放 · 双击复位"
        }
    }

    Connections {
        target: bridge
        function onThemeChanged() {
            view.repaint()
        }
    }
}
