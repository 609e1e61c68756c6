import QtQuick
import QtQuick.Dialogs
import "Palette.js" as Palette

// "设置": the input sound card with its measurement and reference channels, the test signal, the
// calibration files of the measurement microphone and of the calibrator ("手雷"), and the
// palette. Every choice goes straight to the bridge, which keeps it; the screen keeps nothing.
Item {
    id: screen

    readonly property var signalOptions: [
        {value: 0, label: "粉红噪声"},
        {value: 1, label: "扫频"},
        {value: 2, label: "M-Noise（推荐）"}
    ]

    // One option per channel, named by the device, or "输入 N" where the name is empty or only
    // digits; with `fallback` a device without channels still offers "输入 1".
    function channelOptions(names, fallback) {
        const options = names.map((name, i) => {
                                       const text = String(name).trim()
                                       const label = text === "" || /^[0-9]+$/.test(text)
                                                   ? "输入 " + (i + 1) : text
                                       return {value: i, label: label}
                                   })
        if (options.length === 0 && fallback)
            options.push({value: 0, label: "输入 1"})
        return options
    }

    function deviceOptions(names) {
        return names.map(name => ({value: name, label: name, short: name}))
    }

    // A file URL as a local path: the URL's own path with its escapes decoded ("file:///a%20b"
    // gives "/a b").
    function localPath(url) {
        const text = url.toString()
        return text.startsWith("file:") ? decodeURIComponent(new URL(text).pathname) : text
    }

    function setCalibration(slot, path) {
        if (!bridge.setCalibrationFile(slot, path))
            bridge.toast(bridge.calibrationError)
    }

    // The empty value clears the slot, "__import__" asks for a file, any other sets it.
    function pickCalibration(slot, value) {
        if (value === "__import__") {
            calibrationDialog.slot = slot
            calibrationDialog.open()
        } else if (value === "") {
            bridge.clearCalibrationFile(slot)
        } else {
            setCalibration(slot, value)
        }
    }

    width: 600
    height: 1145

    Component.onCompleted: bridge.refreshAudioDevices()

    Rectangle {
        anchors.fill: parent
        color: bridge.theme.bg
    }

    Background {
        showDots: false
    }

    TopBar {
        showProjectName: true
    }

    Text {
        x: 60
        y: 109
        text: "设置"
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 27
        font.bold: true
    }

    Flickable {
        id: scroller
        objectName: "settingsScroller"
        y: 155
        width: parent.width
        height: screen.height - 175
        contentHeight: cards.height + 20
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: cards
            x: 60
            y: 10
            spacing: 40

            SettingsCard {
                height: 200
                title: "声卡与通道"
                icon: "s-snt-interface"

                SettingsRow {
                    label: "声卡"
                    Picker {
                        objectName: "devicePicker"
                        width: 250
                        height: 34
                        fontSize: 15
                        menuWidth: 320
                        alignRight: true
                        options: screen.deviceOptions(bridge.audioInputDevices)
                        value: bridge.selectedAudioDevice
                        tip: "推荐使用Vornik官方专业测量声卡"
                        onPicked: value => bridge.selectedAudioDevice = value
                    }
                }
                SettingsRow {
                    label: "测量通道"
                    Picker {
                        objectName: "dataChannelPicker"
                        width: 250
                        height: 34
                        fontSize: 15
                        menuWidth: 300
                        alignRight: true
                        options: screen.channelOptions(bridge.audioInputChannels, true)
                        value: bridge.audioDataChannel
                        noneText: "未选择"
                        tip: "请选择声卡输入1通道"
                        onPicked: value => bridge.audioDataChannel = value
                    }
                }
                SettingsRow {
                    label: "参考通道"
                    Picker {
                        objectName: "referenceChannelPicker"
                        width: 250
                        height: 34
                        fontSize: 15
                        menuWidth: 320
                        alignRight: true
                        options: screen.channelOptions(bridge.audioInputChannels, false)
                        value: bridge.audioReferenceChannel
                        noneText: "未选择"
                        tip: "请选择声卡输入2通道"
                        onPicked: value => bridge.audioReferenceChannel = value
                    }
                }
            }

            SettingsCard {
                height: 152
                title: "测量信号"
                icon: "s-snt-ir"

                SettingsRow {
                    label: "信号"
                    Picker {
                        objectName: "signalPicker"
                        width: 250
                        height: 34
                        fontSize: 15
                        menuWidth: 240
                        alignRight: true
                        options: screen.signalOptions
                        value: bridge.measureSignalType
                        tip: "测量时播放的信号"
                        onPicked: value => bridge.measureSignalType = value
                    }
                }
                Text {
                    width: parent.width
                    topPadding: 8
                    text: "M-Noise 会发出很短的啪啪声，是峰值，正常现象"
                    elide: Text.ElideRight
                    color: bridge.theme.text50
                    font.family: "Microsoft YaHei UI"
                    font.pixelSize: 13
                }
            }

            SettingsCard {
                height: 200
                title: "校准文件"
                icon: "s-snt-calibrator"

                SettingsRow {
                    label: "测量麦"
                    height: 50
                    Picker {
                        objectName: "micFilePicker"
                        width: 250
                        height: 38
                        fontSize: 15
                        menuWidth: 320
                        alignRight: true
                        options: bridge.calibrationMicFiles
                        value: bridge.calibrationInfo.micPath || ""
                        tip: "请用厂商提供的校准文件"
                        onPicked: value => screen.pickCalibration(0, value)
                    }
                }
                SettingsRow {
                    label: "手雷"
                    height: 50
                    Picker {
                        objectName: "calFilePicker"
                        width: 250
                        height: 38
                        fontSize: 15
                        menuWidth: 320
                        alignRight: true
                        options: bridge.calibrationCalFiles
                        value: bridge.calibrationInfo.calPath || ""
                        tip: "请用厂商提供的手雷文件"
                        onPicked: value => screen.pickCalibration(1, value)
                    }
                }
            }

            SettingsCard {
                height: 158
                title: "深色 / 浅色"
                icon: bridge.darkMode ? "i-moon" : "i-sun"

                Row {
                    topPadding: 12
                    spacing: 11

                    PillButton {
                        objectName: "darkPill"
                        width: 104
                        height: 44
                        fontSize: 16
                        pad: 16
                        text: "深色"
                        primary: bridge.darkMode
                        onClicked: bridge.darkMode = true
                    }
                    PillButton {
                        objectName: "lightPill"
                        width: 104
                        height: 44
                        fontSize: 16
                        pad: 16
                        text: "浅色"
                        primary: !bridge.darkMode
                        onClicked: bridge.darkMode = false
                    }
                }
            }
        }
    }

    // The scroll rail, only while the cards are taller than the view: a press or drag scrolls to
    // the same fraction of the range.
    Rectangle {
        objectName: "scrollRail"
        readonly property real range: scroller.contentHeight - scroller.height
        x: 14
        y: 165
        width: 6
        height: screen.height - 185
        radius: 3
        visible: range > 0
        color: Palette.white7

        Rectangle {
            readonly property real share: scroller.height / Math.max(1, scroller.contentHeight)
            width: parent.width
            height: Math.max(34, share * parent.height)
            y: parent.range > 0 ? scroller.contentY / parent.range * (parent.height - height) : 0
            radius: 3
            color: Palette.white25
        }

        MouseArea {
            anchors.fill: parent
            preventStealing: true
            function scrollTo(y) {
                const fraction = Math.max(0, Math.min(1, y / height))
                scroller.contentY = fraction * parent.range
            }
            onPressed: mouse => scrollTo(mouse.y)
            onPositionChanged: mouse => scrollTo(mouse.y)
        }
    }

    FileDialog {
        id: calibrationDialog
        objectName: "calibrationDialog"
        property int slot: 0
        title: slot === 0 ? "选择测量麦校准文件" : "选择手雷校准文件"
        currentFolder: bridge.calibrationFolder
        // Linux names are case-sensitive: the upper-case forms are listed too.
        nameFilters: ["校准文件 (*.txt *.cal *.csv *.TXT *.CAL *.CSV)", "所有文件 (*)"]
        onAccepted: screen.setCalibration(slot, screen.localPath(selectedFile))
    }
}
