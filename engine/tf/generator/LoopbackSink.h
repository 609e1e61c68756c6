#pragma once

#include <span>

// Where the generator's test signal goes as it is played, for a measurement to use as its
// reference: one mono sample per frame, before the fade-in and the placement on the output
// channels. Bound to the generator once for a run; called on the thread that reads the signal
// (a sound card's render thread, or the generator's own for the network output) with the samples
// of each block in order. Must neither block nor allocate.
class LoopbackSink
{
public:
    virtual ~LoopbackSink() = default;

    virtual void loopedBack(std::span<const float> samples) = 0;
};
