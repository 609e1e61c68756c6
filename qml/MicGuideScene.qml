import QtQuick
import "MicGuideScene.js" as Scene

// The line-array guide's small 3-D venue, turned and zoomed by hand; drawn again when the
// palette changes too.
SceneFrame {
    id: scene

    canvasName: "guideCanvas"
    painter: (ctx, width, height) => Scene.paint(ctx, width, height,
                                                 {yaw: yaw, pitch: pitch, zoom: zoom}, dark,
                                                 face.fontInfo.family)
    onDarkChanged: repaint()

    // The face the font mapping gives the family every text asks for; the canvas takes only
    // installed families.
    Text {
        id: face
        visible: false
        font.family: "Microsoft YaHei UI"
    }
}
