#pragma once

#include <QtGlobal>

namespace audio {

// The output device id that sends a generator's signal to the network audio sender instead of a
// sound card. No backend lists it: it reaches a generator only as an id a caller passes.
inline constexpr char networkOutputDeviceId[] = "aes67-network-output";

// Where a generator set to the network output hands its frames: the network audio sender, seen
// from below so that the signal generator needs no network library.
class NetworkSink
{
public:
    virtual ~NetworkSink() = default;

    // One interleaved block, on the generator's thread. Must neither block nor allocate.
    virtual void push(const float *data, qlonglong frames, int channels, int sampleRate) = 0;
};

} // namespace audio
