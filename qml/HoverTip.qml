import QtQuick
import QtQuick.Controls

// The tooltip of one control, shown 500 ms after the pointer came to rest on it while `wanted`.
// Each control has a tooltip of its own, made only while it is wanted, rather than the one that
// Qt Quick Controls' attached ToolTip shares among all items: that shared one stays tied to the
// last item it was shown or asked for, and when a page goes away with that item its position
// binding reads the page being deleted and logs a TypeError. A tooltip of the control's own goes
// with the control.
Loader {
    id: tip

    property string text
    property bool wanted: false

    active: wanted && text !== ""

    sourceComponent: ToolTip {
        parent: tip.parent
        visible: true
        delay: 500
        text: tip.text
    }
}
