import QtQuick

// The sound pressure line of the measuring screens: a value only while a calibrated input
// measures something above -90 dB.
Text {
    objectName: "splLine"
    x: 60
    y: 210
    text: "声压级 " + (bridge.measuring && bridge.splCalibrated && bridge.splLevel > -90
                    ? bridge.splLevel.toFixed(1) : "—") + " dB(A)"
    color: bridge.theme.text
    font.family: "Microsoft YaHei UI"
    font.pixelSize: 16
    font.letterSpacing: 2.29
}
