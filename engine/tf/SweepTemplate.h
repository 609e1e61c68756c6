#pragma once

#include <cstdint>
#include <vector>

// The generator's exponential sine sweep from `start` to `end` Hz over `duration` seconds at
// `rate`, one period of ⌊duration · rate + 0.5⌋ samples with peak `amplitude`, computed in
// double: the reference a phone's capture of the sweep is measured against.
std::vector<float> sweepTemplate(float start, float end, float duration, float amplitude,
                                 uint32_t rate);

// The length of that period in samples (the product taken in float, as the generator times it).
int64_t sweepLength(float duration, uint32_t rate);
