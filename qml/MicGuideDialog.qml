import QtQuick

// Not built yet: where to put the microphone, shown while the bridge asks for it.
PlaceholderDialog {
    z: 100
    open: bridge.micGuideOpen
    title: "话筒怎么摆"
    onCloseRequested: bridge.micGuideOpen = false
}
