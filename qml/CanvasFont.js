.pragma library

// A canvas font takes only installed families, not the application's font substitutions: the
// face the other texts are mapped to stands behind the asked one, so that canvas texts are drawn
// in the same CJK face.
function font(pixelSize, bold) {
    return (bold ? "bold " : "") + Math.round(pixelSize)
            + "px \"Microsoft YaHei UI\", \"Noto Sans CJK SC\""
}
