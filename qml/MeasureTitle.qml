import QtQuick

// The big title of the measuring screens.
Text {
    x: 60
    y: 135
    color: bridge.theme.text
    font.family: "Microsoft YaHei UI"
    font.pixelSize: 44
    font.bold: true
    font.letterSpacing: 0.87
}
