import QtQuick

// Not built yet: one scheme's curves, shown while the bridge asks for it.
PlaceholderDialog {
    open: bridge.planDetailOpen
    title: "方案说明"
    onCloseRequested: bridge.planDetailOpen = false
}
