import QtQuick
import QtQuick.Window
import Sonetra 1.0

// The sign-in page: a phone number and a verification code over the brand mark. It is a form
// only: nothing is checked or sent anywhere, and every way out leads back.
Item {
    id: page

    // The stage's scale on the screen, so that the turning rings are rasterised at their size
    // as shown.
    readonly property real pixelScale: {
        const window = Window.window
        const stage = window ? Math.min(1, window.width / 600, window.height / 1145) : 1
        return stage * Screen.devicePixelRatio
    }

    // The rings turn in the slow clock's steps, as the screens' backgrounds do (Background.qml).
    readonly property bool shown: Window.visibility !== Window.Hidden
                                  && Window.visibility !== Window.Minimized

    width: 600
    height: 1145

    StepClock {
        id: clock
        running: Qt.application.arguments.indexOf("--shot") < 0 && page.shown
    }

    Rectangle {
        anchors.fill: parent
        color: "#083988"
    }

    component TurningImage: UiImage {
        id: turning

        property int turnSeconds: 88
        property bool backwards: false

        height: width
        tint: "#FFFFFF"
        oversample: Math.max(1, page.pixelScale)

        rotation: {
            const degrees = 360 * clock.seconds / turning.turnSeconds % 360
            return turning.backwards ? 360 - degrees : degrees
        }
    }

    TurningImage {
        x: -205
        y: page.height - 232
        width: 464
        opacity: 0.14
        turnSeconds: 110
        source: "qrc:/icons/s-rings.svg"
    }
    TurningImage {
        x: page.width - 191
        y: -136
        width: 314
        opacity: 0.30
        source: "qrc:/icons/s-rings.svg"
    }
    TurningImage {
        x: page.width - 191 + (314 - 145) / 2
        y: -136 + (314 - 145) / 2
        width: 145
        opacity: 0.34
        backwards: true
        source: "qrc:/icons/s-moireg.svg"
    }

    IconButton {
        objectName: "backButton"
        x: 33
        y: 33
        icon: "s-caret"
        iconRotation: 90
        iconColor: "#FFFFFF"
        borderColor: "#40FFFFFF"
        onClicked: bridge.back()
    }

    Item {
        objectName: "brandMark"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 228 - height / 2
        width: 357
        height: 357

        UiImage {
            anchors.fill: parent
            opacity: 0.30
            source: "qrc:/icons/s-rings.svg"
            tint: "#FFFFFF"
        }
        UiImage {
            anchors.centerIn: parent
            width: 164
            height: 164
            opacity: 0.34
            source: "qrc:/icons/s-moireg.svg"
            tint: "#FFFFFF"
        }
        UiImage {
            anchors.centerIn: parent
            width: 220
            height: 220
            source: "qrc:/icons/h-glyph.svg"
            tint: "#FFFFFF"
        }
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 274 + 228 - 357 / 2
        text: "Halvo声音研究所"
        color: "#FFFFFF"
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 46
        font.bold: true
        font.letterSpacing: 0.68
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 607
        text: "Lumaro"
        color: "#FFFFFF"
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 20
        font.letterSpacing: 3.68
    }

    component FormRow: Rectangle {
        property alias icon: rowIcon.source
        property alias field: input
        property alias placeholder: hint.text

        width: 382
        height: 57
        radius: 29
        color: "#0FFFFFFF"
        border.width: 1
        border.color: "#1FFFFFFF"

        UiImage {
            id: rowIcon
            x: 24
            anchors.verticalCenter: parent.verticalCenter
            width: 20
            height: 20
            tint: "#FFFFFF"
        }

        TextInput {
            id: input
            x: 60
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width - 84
            color: "#FFFFFF"
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 17
            inputMethodHints: Qt.ImhDigitsOnly
            validator: RegularExpressionValidator {
                regularExpression: /[0-9]*/
            }
            selectByMouse: true

            Text {
                id: hint
                anchors.verticalCenter: parent.verticalCenter
                visible: input.text === ""
                color: "#80FFFFFF"
                font: input.font
            }
        }
    }

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 674
        spacing: 14

        FormRow {
            objectName: "phoneRow"
            icon: "qrc:/icons/i-phone.svg"
            placeholder: "手机号"
            field.objectName: "phoneField"
            field.maximumLength: 11
        }
        FormRow {
            objectName: "codeRow"
            icon: "qrc:/icons/i-user.svg"
            placeholder: "验证码"
            field.objectName: "codeField"
            field.maximumLength: 6
            field.width: 382 - 60 - 120 - 20

            PillButton {
                objectName: "sendCodeButton"
                anchors.right: parent.right
                anchors.rightMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                width: 120
                height: 38
                text: "获取验证码"
                fontSize: 14
                letterSpacing: 0.5
                onClicked: bridge.toast("验证码已发送（内测版）")
            }
        }
    }

    PillButton {
        objectName: "loginButton"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 826
        width: 382
        height: 55
        text: "登 录"
        fontSize: 20
        onClicked: bridge.back()
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 1088
        text: "EST. 2026"
        color: "#FFFFFF"
        font.family: "Microsoft YaHei UI"
        font.pixelSize: 16
        font.letterSpacing: 3.95
    }
}
