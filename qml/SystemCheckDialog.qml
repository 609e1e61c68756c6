import QtQuick

// Not built yet: the system check's dialog, opened by showDialog().
PlaceholderDialog {
    id: dialog

    function showDialog() {
        open = true
        bridge.runSystemCheck()
    }

    z: 300
    title: "检查系统配置"
    onCloseRequested: open = false
}
