import QtQuick
import "Palette.js" as Palette

// The curve window's overlays, one at a time: the project menu ("删除工程"), the confirmation
// before a project and its packs are deleted, and the new-project dialog.
Item {
    id: overlays

    property int menuPosition: -1
    property real menuY: 60
    property string mode: "" // "menu", "confirm" or "new"

    signal projectDeleted
    signal projectCreated(string name)

    function openMenu(position, rowY) {
        menuPosition = position
        menuY = Math.min(Math.max(60, rowY - 6), height - 44)
        mode = "menu"
    }

    function closeMenu() {
        if (mode === "menu")
            mode = ""
    }

    function openNewProject() {
        nameInput.text = ""
        error.text = ""
        mode = "new"
        nameInput.forceActiveFocus()
    }

    function closeAll() {
        mode = ""
    }

    function confirmNewProject() {
        const name = nameInput.text.trim()
        if (name === "") {
            error.text = "工程名不能空着"
            return
        }
        if (!bridge.createProjectInWindow(name)) {
            error.text = "这个工程建不了"
            return
        }
        mode = ""
        projectCreated(name)
    }

    visible: mode !== ""

    // Outside the menu a click only closes it; behind a dialog the dimmed backdrop cancels.
    Rectangle {
        objectName: "overlayBackdrop"
        anchors.fill: parent
        radius: 8
        color: overlays.mode === "menu" ? "transparent" : Palette.black50

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton | Qt.RightButton
            onClicked: overlays.mode = ""
        }
    }

    Rectangle {
        objectName: "projectMenu"
        visible: overlays.mode === "menu"
        x: 60
        y: overlays.menuY
        width: 116
        height: 34
        radius: 10
        color: bridge.theme.cardSolid
        border.width: 1
        border.color: bridge.theme.line25

        Text {
            anchors.centerIn: parent
            text: "删除工程"
            color: bridge.theme.danger
            font.family: "Microsoft YaHei UI"
            font.pixelSize: 13
        }

        MouseArea {
            objectName: "deleteProjectEntry"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: overlays.mode = "confirm"
        }
    }

    component DialogCard: Rectangle {
        anchors.centerIn: parent
        radius: 16
        color: bridge.theme.cardSolid
        border.width: 1
        border.color: bridge.theme.line25

        // Clicks on the card stay on it.
        MouseArea {
            anchors.fill: parent
        }
    }

    component CardText: Text {
        color: bridge.theme.text
        font.family: "Microsoft YaHei UI"
    }

    DialogCard {
        objectName: "confirmDeleteProject"
        visible: overlays.mode === "confirm"
        width: 330
        height: 150

        CardText {
            x: 24
            y: 28
            text: "删除工程和里面的曲线包？"
            font.pixelSize: 16
            font.bold: true
        }
        Row {
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 20
            spacing: 10

            PillButton {
                objectName: "cancelDelete"
                width: 80
                height: 36
                primary: false
                text: "取消"
                fontSize: 14
                onClicked: overlays.mode = ""
            }
            Rectangle {
                objectName: "confirmDelete"
                width: 80
                height: 36
                radius: 18
                color: bridge.theme.danger

                CardText {
                    anchors.centerIn: parent
                    text: "删除"
                    color: Palette.white
                    font.pixelSize: 14
                    font.bold: true
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: {
                        bridge.deleteProject(overlays.menuPosition)
                        overlays.mode = ""
                        overlays.projectDeleted()
                    }
                }
            }
        }
    }

    DialogCard {
        objectName: "newProjectDialog"
        visible: overlays.mode === "new"
        width: 330
        height: 176

        CardText {
            x: 24
            y: 20
            text: "新建工程"
            font.pixelSize: 16
            font.bold: true
        }
        Rectangle {
            x: 24
            y: 54
            width: parent.width - 48
            height: 34
            radius: 8
            color: bridge.theme.line06
            border.width: 1
            border.color: nameInput.activeFocus ? bridge.theme.glow : bridge.theme.line25

            TextInput {
                id: nameInput
                objectName: "projectNameInput"
                x: 10
                width: parent.width - 20
                anchors.verticalCenter: parent.verticalCenter
                clip: true
                color: bridge.theme.text
                selectByMouse: true
                font.family: "Microsoft YaHei UI"
                font.pixelSize: 14
                onTextChanged: error.text = ""
                Keys.onReturnPressed: overlays.confirmNewProject()
                Keys.onEnterPressed: overlays.confirmNewProject()
                Keys.onEscapePressed: overlays.mode = ""

                CardText {
                    visible: nameInput.text === ""
                    text: "工程名"
                    color: bridge.theme.text50
                    font: nameInput.font
                }
            }
        }
        CardText {
            id: error
            objectName: "newProjectError"
            x: 24
            y: 94
            color: bridge.theme.danger
            font.pixelSize: 12
        }
        Row {
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 18
            spacing: 10

            PillButton {
                objectName: "cancelNewProject"
                width: 80
                height: 36
                primary: false
                text: "取消"
                fontSize: 14
                onClicked: overlays.mode = ""
            }
            PillButton {
                objectName: "confirmNewProject"
                width: 80
                height: 36
                text: "确定"
                fontSize: 14
                onClicked: overlays.confirmNewProject()
            }
        }
    }
}
