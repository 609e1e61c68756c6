.pragma library

// What the corner-filter editors offer and how they read a typed frequency.

// Bypass, then 6 to 48 dB/oct in steps of 6; a Linkwitz-Riley corner starts at 12.
function slopeOptions(type) {
    const options = [{value: 0, label: "Bypass", short: "Bypass"}]
    for (let v = type === "LR" ? 12 : 6; v <= 48; v += 6)
        options.push({value: v, label: v + " dB/oct", short: String(v)})
    return options
}

var typeOptions = [{value: "BW", label: "BW · Butterworth", short: "BW"},
                   {value: "LR", label: "LR · Linkwitz-Riley", short: "LR"},
                   {value: "BS", label: "BS · Bessel", short: "BS"}]

// The typed frequency in Hz: in kHz mode a value above 24 is already in Hz.
function typedHz(value, khz) {
    return khz && value <= 24 ? value * 1000 : value
}

// A frequency as shown: kHz with one decimal from 1 kHz, whole hertz below.
function frequencyText(hz) {
    return hz >= 1000 ? (hz / 1000).toFixed(1) : String(Math.round(hz))
}
