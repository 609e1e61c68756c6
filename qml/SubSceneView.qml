import QtQuick
import "SubSceneData.js" as SceneData
import "SubScenePaint.js" as ScenePaint

// The subwoofer guide's small venue (stage, audience area, mains, subwoofers and the measuring
// microphone), turned and zoomed by hand. `scene` is one of SubSceneData's scenes, or its name.
SceneFrame {
    id: view

    property var scene: SceneData.center
    readonly property var sceneData: typeof scene === "string" ? SceneData[scene] : scene

    canvasName: "sceneCanvas"
    paintable: width * renderScale >= 40 && height * renderScale >= 40
    painter: (ctx, width, height) => {
                 if (sceneData)
                     ScenePaint.paint(ctx, SceneData, sceneData, width, height,
                                      {yaw: yaw, pitch: pitch, zoom: zoom})
             }

    onSceneDataChanged: repaint()
    Component.onCompleted: repaint()

    Connections {
        target: bridge
        function onThemeChanged() {
            view.repaint()
        }
    }
}
