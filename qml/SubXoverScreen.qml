import QtQuick
import "Palette.js" as Palette

// The subwoofer crossover and alignment, one screen for the four stages of the flow (guide,
// measure, result, alignment) by the bridge's subStep. One button always offers the next step.
Item {
    id: page

    readonly property var info: bridge.subInfo
    readonly property bool measuring: bridge.measuring
    readonly property bool capturing: bridge.autoMeasuring
    readonly property int step: bridge.subStep
    readonly property int alignStage: bridge.subAlignStage
    readonly property bool levelOk: bridge.subLevelReady
    readonly property var primary: primaryState()

    // The primary button's text, what it does ("" for nothing), whether it takes a click and
    // whether it breathes as the next thing to press.
    function primaryState() {
        const ready = measuring && levelOk && !capturing
        const state = (text, action) => ({text: text, action: action, enabled: true,
                                           breath: false})
        let s
        if (step === 0) {
            s = state("开始分频", "guideDone")
        } else if (step === 1) {
            if (!info.mainLoaded)
                s = state("选择主扩", "pickMain")
            else if (!measuring)
                s = state("播放（超低）", "calibrate")
            else if (capturing)
                s = state("测量中…", "")
            else
                s = levelOk ? state("超低测量分频", "measure") : state("请对齐两个表头", "")
            s.breath = !info.mainLoaded || !measuring || ready
        } else if (step === 2) {
            s = state("下一步 对齐", "gotoAlign")
        } else {
            if (!measuring && alignStage >= 2)
                s = state("重新测量对齐", "alignRestart")
            else if (!measuring)
                s = state(alignStage === 0 ? "播放（主扩）" : "播放（超低）", "calibrate")
            else if (capturing)
                s = state("测量中…", "")
            else if (!levelOk)
                s = state("请对齐表头", "")
            else
                s = state(alignStage === 0 ? "开始测量主扩" : "开始测量超低", "alignMeasure")
            s.breath = (!measuring && alignStage < 2) || ready
        }
        if ((step === 1 || step === 3) && measuring)
            s.enabled = ready
        return s
    }

    function press(action) {
        switch (action) {
        case "guideDone":
            return bridge.subGuideDone()
        case "pickMain":
            showMainTip()
            return bridge.subPickMain()
        case "calibrate":
            return bridge.subLevelCalibrate()
        case "measure":
            return bridge.subMeasure()
        case "gotoAlign":
            return bridge.subGotoAlign()
        case "alignRestart":
            return bridge.subAlignRestart()
        case "alignMeasure":
            return bridge.subAlignMeasure()
        }
    }

    function showMainTip() {
        mainTip.asked = true
        mainTipTimer.restart()
    }

    function stepEntered() {
        if (step === 1 && !info.mainLoaded)
            showMainTip()
    }

    width: 600
    height: 1145

    onStepChanged: stepEntered()
    Component.onCompleted: stepEntered()

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
        title: page.step === 0 ? "超低分频对齐" : ""
        showProjectName: bridge.projectName !== ""
    }

    Loader {
        objectName: "stepLoader"
        sourceComponent: [guideStep, measureStep, resultStep, alignStep][Math.max(0, Math.min(
                                                                              3, page.step))]
    }
    Component {
        id: guideStep
        SubGuideStep {
            objectName: "guideStep"
        }
    }
    Component {
        id: measureStep
        SubMeasureStep {
            objectName: "measureStep"
        }
    }
    Component {
        id: resultStep
        SubResultStep {
            objectName: "resultStep"
        }
    }
    Component {
        id: alignStep
        SubAlignStep {
            objectName: "alignStep"
        }
    }

    Rectangle {
        objectName: "footerRule"
        y: 1038
        width: parent.width
        height: 1
        visible: page.step !== 2
        color: bridge.theme.line
    }

    Rectangle {
        objectName: "hideGuideButton"
        x: 33
        y: 1066
        width: 125
        height: 38
        radius: height / 2
        visible: page.step === 0
        color: bridge.subGuideHidden ? bridge.theme.blue : "transparent"
        border.width: 1
        border.color: bridge.subGuideHidden ? Palette.glowBlue : bridge.theme.line25

        Text {
            anchors.centerIn: parent
            text: "不再显示"
            color: bridge.subGuideHidden ? Palette.white : bridge.theme.text
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: bridge.subGuideHidden = !bridge.subGuideHidden
        }
    }

    Row {
        id: buttonRow
        anchors.right: parent.right
        anchors.rightMargin: 60
        y: 1061
        spacing: 11

        PillButton {
            objectName: "stopButton"
            width: 72
            height: 48
            visible: page.measuring
            primary: false
            text: "停止"
            fontSize: 17
            pad: 14
            onClicked: bridge.subStop()
        }
        PillButton {
            objectName: "primaryButton"
            width: 168
            height: 48
            enabled: page.primary.enabled
            text: page.primary.text
            fontSize: 17
            pad: 14
            breath: page.primary.breath
            onClicked: page.press(page.primary.action)
        }
    }

    // The tip about the pick, beside the button while that offers the pick: below the footer rule,
    // where it lies on no text of the page and the toast (above the rule) never lies on it. It
    // goes once a reference is chosen, and while the stop button takes the footer's room.
    Rectangle {
        id: mainTip
        objectName: "mainTip"
        property bool asked: false
        anchors.left: parent.left
        anchors.leftMargin: 33
        anchors.right: buttonRow.left
        anchors.rightMargin: 12
        anchors.verticalCenter: buttonRow.verticalCenter
        height: tipText.implicitHeight + 20
        radius: 16
        visible: asked && page.primary.action === "pickMain" && !page.measuring
        color: Palette.brandBlue
        border.width: 1
        border.color: Palette.glowBlue

        Text {
            id: tipText
            x: 16
            y: 10
            width: parent.width - 32
            wrapMode: Text.WordWrap
            text: "在右侧「工程」里选一条处理好的主扩曲线作参考；还没处理的话，先用点声源或线阵列把主扩处理完。"
            color: Palette.white
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 14
        }
        MouseArea {
            anchors.fill: parent
            onClicked: mainTip.asked = false
        }
        Timer {
            id: mainTipTimer
            objectName: "mainTipTimer"
            interval: 12000
            onTriggered: mainTip.asked = false
        }
    }
}
