import QtQuick

// A picture rasterised once, at ceil(design size x scale), instead of being scaled while drawn:
// the scale is the screen's device pixel ratio with exactPixels, else the oversampling factor.
// A tint that is not fully transparent recolours an icon of the set ("qrc:/icons/<key>.svg")
// completely; the icon image provider draws it in that colour on the CPU, so tinted icons show
// under every scene graph backend.
Item {
    id: picture

    property url source
    property real designW: width
    property real designH: height
    property int oversample: 4
    property bool exactPixels: false
    property color tint: "transparent"
    property alias mirror: raster.mirror
    readonly property alias status: raster.status

    readonly property real rasterScale: exactPixels ? Screen.devicePixelRatio : oversample

    function shownSource() {
        const text = source.toString()
        const icon = /^qrc:\/icons\/([^/?]+)\.svg$/.exec(text)
        if (!icon || tint.a <= 0)
            return text
        return "image://icon/" + icon[1] + "?tint=" + tint.toString().substring(1)
    }

    Image {
        id: raster
        anchors.fill: parent
        source: picture.shownSource()
        sourceSize: Qt.size(Math.ceil(picture.designW * picture.rasterScale),
                            Math.ceil(picture.designH * picture.rasterScale))
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        asynchronous: true
    }
}
