import QtQuick

// Not built yet: the projects and curve packs window.
PlaceholderWindow {
    property real uiScale: 1

    title: "工程管理"
    width: 720
    height: 680
    minimumWidth: 660
    minimumHeight: 580
}
