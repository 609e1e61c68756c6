#pragma once

#include "platform/asio/AsioTypes.h"

namespace audio::asio {

// Conversions between a driver's buffer half of one channel and every `stride`-th float of an
// interleaved block. Both answer false, and touch nothing, for a sample type they do not know.
//
// Driver to float: integers are divided by their largest positive value (32767, 8388607,
// 2147483647); a 24-bit sample is read as an unsigned number and has 2.0 taken off when the
// quotient is above 1.0. Floats are copied (64-bit narrowed).
bool toFloat(platform::asio::SampleType type, const void *half, int frames, float *out, int stride);

// Float to driver: integers are the value times the largest positive value, truncated toward
// zero and held to the type's range (so full scale never wraps to the opposite sign; NaN gives
// 0). Floats are copied (widened to 64 bits).
bool fromFloat(platform::asio::SampleType type, const float *in, int stride, int frames,
               void *half);

bool isKnownSampleType(platform::asio::SampleType type);

} // namespace audio::asio
