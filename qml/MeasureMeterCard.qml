import QtQuick
import "Palette.js" as Palette

// The two input meters of the measuring screens, "测量" over "参考", on a -90 .. 0 dBFS scale that
// widens towards the top, with two warning marks and an optional header and progress bar.
UiCard {
    id: card

    property real measureDb: bridge.measurePeak
    property real referenceDb: bridge.referencePeak
    property color cardFillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
    property bool centerRows: false
    property real rowGap: 33
    property string header
    property string subheader
    property bool showProgress: false
    property real progress: 0

    readonly property real headerBlock: header !== "" ? 57 : 0
    readonly property real rowsTop: headerBlock + (centerRows
                                                   ? Math.round((height - headerBlock
                                                                 - (23 + rowGap + 23)) / 2)
                                                   : 22)
    readonly property real ticksY: rowsTop + 23 + rowGap + 27
    readonly property real barWidth: width - 194
    // The warning marks sit at -16 and -8 dBFS and are labelled "-12" and "-6".
    readonly property var marks: [{db: -16, label: "-12"}, {db: -8, label: "-6"}]
    readonly property bool dark: bridge.darkMode

    // The part of the track a level fills: nothing at or below -90 dBFS (and for -123 or less or
    // no number), all of it from 0 dBFS, and ((L + 90) / 90)^1.6 between.
    function fraction(level) {
        if (!(level > -123))
            return 0
        if (level >= 0)
            return 1
        const t = Math.max(0, Math.min(1, (level + 90) / 90))
        return Math.pow(t, 1.6)
    }

    function valueText(level) {
        return (level > -90 ? level.toFixed(1) : "—") + " dB"
    }

    width: 480
    height: 131
    cornerRadius: 27
    fillColor: cardFillColor
    strokeColor: dark ? "transparent" : bridge.theme.line

    Row {
        x: 25
        y: 14
        spacing: 11
        visible: card.header !== ""

        Text {
            text: card.header
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 16
            font.bold: true
            font.letterSpacing: 1.09
        }
        Text {
            text: card.subheader
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 15
        }
    }

    Rectangle {
        x: 25
        y: 44
        width: card.width - 49
        height: 5
        radius: 3
        visible: card.showProgress
        color: bridge.theme.line25

        Rectangle {
            objectName: "meterProgressFill"
            height: parent.height
            radius: parent.radius
            width: parent.width * Math.max(0, Math.min(1, card.progress))
            color: bridge.theme.text

            Behavior on width {
                NumberAnimation {
                    duration: 100
                }
            }
        }
    }

    Column {
        x: 25
        y: card.rowsTop
        width: card.width - 49
        spacing: card.rowGap

        Repeater {
            model: [{label: "测量", key: "measure"}, {label: "参考", key: "reference"}]

            Row {
                id: meterRow
                required property var modelData
                readonly property real level: modelData.key === "measure" ? card.measureDb
                                                                          : card.referenceDb

                objectName: modelData.key + "Meter"
                width: parent.width
                spacing: 16

                Text {
                    width: 38
                    anchors.verticalCenter: parent.verticalCenter
                    text: meterRow.modelData.label
                    color: bridge.theme.text
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 16
                    font.letterSpacing: 2.29
                }

                Rectangle {
                    id: track
                    objectName: "track"
                    width: meterRow.width - 145
                    height: 23
                    radius: 12
                    color: card.dark ? Palette.white4 : Palette.black4

                    Rectangle {
                        objectName: "fill"
                        height: parent.height
                        radius: parent.radius
                        width: track.width * Math.min(1, card.fraction(meterRow.level))
                        gradient: Gradient {
                            orientation: Gradient.Horizontal
                            GradientStop {
                                position: 0.0
                                color: bridge.theme.text
                            }
                            GradientStop {
                                position: 0.48
                                color: card.dark ? Palette.white92 : Palette.nearBlack85
                            }
                            GradientStop {
                                position: 1.0
                                color: card.dark ? Palette.white55 : Palette.nearBlack50
                            }
                        }
                    }

                    Repeater {
                        model: card.marks

                        Rectangle {
                            required property var modelData
                            objectName: "mark"
                            x: Math.round(track.width * card.fraction(modelData.db))
                            width: 1
                            height: track.height
                            color: card.dark ? Palette.white35 : Palette.black35
                        }
                    }
                }

                Text {
                    objectName: "value"
                    width: 74
                    anchors.verticalCenter: parent.verticalCenter
                    horizontalAlignment: Text.AlignRight
                    text: card.valueText(meterRow.level)
                    color: bridge.theme.text
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 16
                    font.letterSpacing: 0.98
                }
            }
        }
    }

    Item {
        objectName: "scale"
        x: 79
        y: card.ticksY
        width: card.barWidth
        height: 15

        component ScaleText: Text {
            height: 15
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 11
        }

        ScaleText {
            width: 33
            text: "-90"
        }
        Repeater {
            model: card.marks

            ScaleText {
                required property var modelData
                objectName: "scaleLabel" + modelData.label
                x: Math.round(card.barWidth * card.fraction(modelData.db) - 13.5)
                width: 27
                horizontalAlignment: Text.AlignHCenter
                text: modelData.label
            }
        }
        ScaleText {
            x: parent.width - width
            width: 16
            horizontalAlignment: Text.AlignRight
            text: "0"
        }
    }

    Text {
        x: card.width - 99
        y: card.ticksY
        width: 74
        horizontalAlignment: Text.AlignRight
        text: "dBFS"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 11
    }
}
