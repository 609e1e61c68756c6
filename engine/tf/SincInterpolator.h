#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads a sampled signal between its samples through a Kaiser-windowed sinc of 32 taps (more
// when the cut-off is lowered), tabulated for 1024 fractions of a sample. Flat within 0.002 dB
// up to 0.42 of the sample rate at any fraction, where linear interpolation would lose up to
// 12 dB at 20 kHz of 48 kHz: the top octaves of a resampled capture stay measurable.
class SincInterpolator
{
public:
    static constexpr int baseHalfTaps = 16;
    static constexpr int phases = 1024;

    // `cutoff`: the highest frequency passed, as a fraction of the input's Nyquist frequency
    // (below 1 when reading at a lower rate than the input's, so nothing folds back).
    explicit SincInterpolator(double cutoff = 1.0);

    double cutoff() const { return cutoff_; }
    // x at `position` (in samples); samples outside [0, length) count as 0.
    float at(const float *x, std::size_t length, double position) const;

private:
    double cutoff_;
    int halfTaps_;
    // Row p holds the taps for the fraction p / phases, for samples −halfTaps + 1 … halfTaps.
    std::vector<float> table_;
};
