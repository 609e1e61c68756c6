#pragma once

namespace audio::aes67 {

// The output device id that sends a generator's signal to the network audio sender instead of
// a sound card. No backend lists it: it reaches a generator only as an id a caller passes.
inline constexpr char networkOutputDeviceId[] = "aes67-network-output";

} // namespace audio::aes67
