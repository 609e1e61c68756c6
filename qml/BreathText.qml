import QtQuick

// A sentence that can breathe like a button, growing from its left edge so that left-aligned
// text grows to the right.
Text {
    id: sentence

    property bool breath: false

    transformOrigin: Item.Left
    font.family: "Microsoft YaHei UI"

    Breathing {
        target: sentence
        peak: 1.06
        running: sentence.breath
    }
}
