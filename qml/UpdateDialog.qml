import QtQuick

// Not built yet: the update offer, shown while the bridge asks for it.
PlaceholderDialog {
    z: 400
    open: bridge.updateDialogOpen
    title: "发现新版本 " + bridge.updateVersion
    onCloseRequested: bridge.updateDialogOpen = false
}
