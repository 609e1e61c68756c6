.pragma library

// The colours the screens, pages and dialogs use besides the bridge's theme map, each named once:
// "#RRGGBB", or "#AARRGGBB" with the alpha first (the percentage in a name is the opacity).

// Neutrals
var white = "#FFFFFF"
var black = "#000000"
var nearBlack = "#0A0A0A"
var night = "#0B0D12" // dialog and guide surfaces of the dark palette
var nightBadge = "#101216"
var nightBadge85 = "#D9101216"
var nightBadge75 = "#BF101216"
var nightCard = "#111318"
var nightGlass = "#99111318"
var toastFill = "#E61A1A20"

// Blues
var glowBlue = "#4A8EFF" // the glow, selections and the signal traces
var glowBlue35 = "#594A8EFF"
var brandBlue = "#083988" // filled buttons and chosen options
var brandBlueHover = "#0A4AA8"
var brandBlueLight = "#0A3E8C" // the light palette's filled blue
var accentLight = "#2F5FD0" // the light palette's accent
var guideBlue = "#2F6BFF"
var paleBlue = "#8FB4FF"

// States
var amber = "#FFC53D"
var red = "#FF4D4D"
var green = "#3DDC84"
var grey = "#8A8F98"

// Cards
var darkCard = "#9E131A29"
var darkCardSolid = "#F2131A29"
var lightCard = "#0A0A0A0A"

// White and black at an opacity
var white92 = "#EBFFFFFF"
var white85 = "#D9FFFFFF"
var white80 = "#CCFFFFFF"
var white75 = "#BFFFFFFF"
var white70 = "#B3FFFFFF"
var white60 = "#99FFFFFF"
var white55 = "#8CFFFFFF"
var white50 = "#80FFFFFF"
var white45 = "#73FFFFFF"
var white35 = "#59FFFFFF"
var white25 = "#40FFFFFF"
var white18 = "#2EFFFFFF"
var white12 = "#1FFFFFFF"
var white7 = "#12FFFFFF"
var white6 = "#0FFFFFFF"
var white4 = "#0BFFFFFF"
var backdrop = "#A0000000" // behind a modal dialog
var black70 = "#B3000000"
var black60 = "#99000000"
var black50 = "#80000000"
var black45 = "#73000000"
var black35 = "#59000000"
var black30 = "#4D000000"
var black25 = "#40000000"
var black24 = "#3D000000"
var black20 = "#33000000"
var black4 = "#0B000000"
var nearBlack85 = "#D90A0A0A"
var nearBlack50 = "#800A0A0A"

// The processor pages' own palette, dark or light: ink, softer ink, hairlines, the accent, the
// accent's fill and the card fill.
function ink(dark) {
    return dark ? white : nearBlack
}
// Softer ink stands out from either card by the 4.5:1 (WCAG 2) that text of 11 and 12 px needs.
function softInk(dark) {
    return dark ? white50 : black60
}
function hair(dark) {
    return dark ? white25 : black20
}
function accent(dark) {
    return dark ? glowBlue : accentLight
}
function accentFill(dark) {
    return dark ? brandBlue : brandBlueLight
}
function cardFill(dark) {
    return dark ? darkCard : lightCard
}
// Text on the accent fill of a chosen row or option, the same in both palettes: either fill is a
// deep blue, on which the light palette's dark ink would hardly show.
var selectedInk = white
var selectedSoftInk = white75
