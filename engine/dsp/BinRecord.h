#pragma once

// The measurement's published result for one frequency bin: eight floats in this order.
struct BinRecord
{
    float frequency = 0.0f; // Hz
    float magnitude = 0.0f; // calibrated transfer-function magnitude, linear
    float amplitude = 0.0f; // |data bin| · √2, linear RMS of the bin's component
    float phaseRe = 0.0f; // unit phasor of the transfer function
    float phaseIm = 0.0f;
    float coherence = 0.0f; // 0 … 1
    float peak = 0.0f; // running peak of the squared amplitude over the bin's meter
    float mean = 0.0f; // mean squared amplitude over the bin's meter
};
static_assert(sizeof(BinRecord) == 8 * sizeof(float));
