import QtQuick

// Not built yet: the processor panel.
PlaceholderWindow {
    title: "处理器"
    width: 792
    height: 620
    minimumWidth: 660
    minimumHeight: 516
    maximumWidth: 1188
    maximumHeight: 932
}
