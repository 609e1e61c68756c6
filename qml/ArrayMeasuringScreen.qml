import QtQuick
import "CanvasFont.js" as CanvasFont
import "Palette.js" as Palette

// Measuring a line array point after point: the average curve over the points' curves, a badge
// per point with the next one highlighted, the state of the run, the meters, and the buttons to
// stop, measure the next point and compute once three points are in.
Item {
    id: page

    readonly property int count: bridge.measuredPointCount
    readonly property int active: bridge.currentMeasurePoint
    // The badge canvas is drawn at this scale so that it stays sharp in a larger window.
    readonly property real renderScale: {
        const window = Window.window
        if (!window)
            return 1
        return Math.max(1, Math.min(2, Math.min(window.width / 600, window.height / 1145)))
    }

    readonly property string primaryText: {
        if (bridge.autoMeasuring)
            return "测量中…"
        if (!bridge.measuring && count === 0)
            return "播放线阵列"
        return "测量第 " + (count + 1) + " 点"
    }
    readonly property string stateText: {
        if (bridge.autoMeasuring)
            return "正在测量第 " + (count + 1) + " 点"
        if (!bridge.measuring && count === 0)
            return "先播放线阵列，再对齐两个表头"
        if (bridge.measuring)
            return "信号已开，对齐表头后测第 1 点"
        if (count < 3)
            return "第 " + count + " 点测量完成，还差 " + (3 - count) + " 点"
        return "第 " + count + " 点测量完成，平均曲线已生成"
    }

    width: 600
    height: 1145

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {
        blue: false
        showDots: false
        variant: "measuring"
    }

    TopBar {
        title: "测量中"
        showProjectName: bridge.projectName !== ""
    }

    MeasureTitle {
        objectName: "title"
        text: "线阵列测量"
    }

    SplLine {}

    Text {
        objectName: "pointCount"
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 210
        text: "已测 " + page.count + " 点"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 1.09
    }

    MeasureChartCard {
        objectName: "chartCard"
        x: 60
        y: 307
        points: bridge.averageMeasurementCurve
        historyCurves: bridge.measurementPointCurves
        coherence: bridge.measuringCoherenceFlat
    }

    UiCard {
        objectName: "pointCard"
        x: 60
        y: 627
        width: 480
        height: 136
        cornerRadius: 27
        fillColor: bridge.darkMode ? Palette.darkCard : bridge.theme.cardSolid
        strokeColor: bridge.darkMode ? "transparent" : bridge.theme.line

        Text {
            objectName: "currentTitle"
            x: 25
            y: 16
            text: "第 " + (Math.max(0, page.active) + 1) + " 点"
            color: bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 20
            font.bold: true
            font.letterSpacing: 0.41
        }

        Canvas {
            id: badges
            objectName: "badges"

            readonly property real logicalWidth: parent.width - 49
            readonly property real logicalHeight: 71
            readonly property bool dark: bridge.darkMode
            // Badges drawn at the last paint, for tests and scripted runs.
            property int drawn: 0

            x: 25
            y: 41
            width: logicalWidth * page.renderScale
            height: logicalHeight * page.renderScale
            transformOrigin: Item.TopLeft
            scale: 1 / page.renderScale

            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()

            Connections {
                target: page
                function onCountChanged() {
                    badges.requestPaint()
                }
                function onActiveChanged() {
                    badges.requestPaint()
                }
            }
            Connections {
                target: bridge
                function onThemeChanged() {
                    badges.requestPaint()
                }
            }

            onPaint: {
                const ctx = getContext("2d")
                ctx.reset()
                ctx.clearRect(0, 0, width, height)
                ctx.save()
                ctx.scale(page.renderScale, page.renderScale)
                const count = page.count
                const active = page.active
                const n = Math.max(5, active >= count ? count + 1 : count)
                const left = 22
                const right = Math.max(left + 1, logicalWidth - 22)
                const centreY = logicalHeight * 0.5
                const step = n > 1 ? (right - left) / (n - 1) : 0
                const r = Math.max(7.5, 12.3 - (n - 5) * 0.48)
                const blue = dark ? "74,142,255" : "8,57,136"
                const ink = dark ? "255,255,255" : "10,10,10"
                ctx.lineWidth = 1.5
                ctx.font = CanvasFont.font(12)
                ctx.textAlign = "center"
                ctx.textBaseline = "middle"
                for (let i = 0; i < n; ++i) {
                    const x = left + step * i
                    const done = i < count
                    const current = i === active
                    let fill, stroke, label
                    if (current) {
                        fill = "rgba(" + blue + ",0.95)"
                        stroke = "rgba(255,255,255,0.95)"
                        label = Palette.white
                    } else if (done) {
                        fill = dark ? "rgba(255,255,255,0.94)" : "rgba(20,20,20,0.94)"
                        stroke = dark ? "rgba(255,255,255,0.92)" : "rgba(20,20,20,0.92)"
                        label = dark ? "rgba(8,20,46,0.95)" : "rgba(255,255,255,0.95)"
                    } else {
                        fill = dark ? "rgba(8,20,46,0.94)" : "rgba(255,255,255,0.94)"
                        stroke = "rgba(" + ink + ",0.38)"
                        label = "rgba(" + ink + ",0.70)"
                    }
                    ctx.beginPath()
                    ctx.arc(x, centreY, r, 0, 2 * Math.PI)
                    ctx.fillStyle = fill
                    ctx.fill()
                    ctx.strokeStyle = stroke
                    ctx.stroke()
                    ctx.fillStyle = label
                    ctx.fillText(String(i + 1), x, centreY + 0.5)
                }
                ctx.restore()
                drawn = n
            }
        }
    }

    Text {
        objectName: "stateText"
        x: 60
        y: 777
        text: page.stateText
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 0.68
    }

    Text {
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 779
        text: Math.round(bridge.measureSeconds) + " 秒 / 点"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 15
        font.letterSpacing: 0.55
    }

    ProgressTrack {
        objectName: "progress"
        y: 807
        value: bridge.autoMeasuring ? Math.max(0.02, bridge.measureProgress) : page.count > 0 ? 1.0
                                                                                            : 0
    }

    MeasureMeterCard {
        objectName: "meterCard"
        x: 60
        y: 824
    }

    MeasureHelpPill {
        objectName: "helpPill"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 972
        text: "测量麦怎么摆"
        onClicked: bridge.go("测量引导")
    }

    Rectangle {
        y: 1038
        width: parent.width
        height: 1
        color: bridge.theme.line
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 1061
        spacing: 12

        PillButton {
            objectName: "stopButton"
            width: 72
            height: 48
            primary: false
            enabled: bridge.measuring
            opacity: bridge.measuring ? 1 : 0
            text: "停止"
            fontSize: 17
            pad: 14
            onClicked: bridge.arrayStop()
        }
        PillButton {
            objectName: "primaryButton"
            width: 146
            height: 48
            enabled: !bridge.autoMeasuring && !bridge.computing
            text: page.primaryText
            fontSize: 17
            pad: 14
            breath: bridge.measuring && !bridge.autoMeasuring && bridge.measureLevelReady
            onClicked: bridge.arrayPrimaryAction()
        }
        PillButton {
            objectName: "computeButton"
            width: 112
            height: 48
            primary: false
            enabled: bridge.canCompute && !bridge.computing
            text: "自动计算"
            fontSize: 17
            pad: 14
            onClicked: bridge.computeNow()
        }
    }
}
