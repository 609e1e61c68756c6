#pragma once

#include <chrono>
#include <cstdint>

namespace audio {

// When the frames a backend's stream thread is moving right now meet the outside world, as the
// backend knows it. For a render stream's read from its source: how many frames will still play
// before the first frame read (queued in the backend's buffer plus the device's own delay). For
// a capture stream's write to its sink: how many frames ago the first frame written was
// captured, as far as the backend can tell (0: the input's own latency stays part of what is
// measured). Code that runs inside that read or write, on that thread (a test signal reporting
// the samples it makes, the recording front end handing on a block), reads it to pair what it
// sees with the moment the sound left the output or reached the input. A per-thread value:
// nothing is locked or allocated.
struct StreamTiming
{
    std::chrono::steady_clock::time_point at; // when the read or write began
    int64_t latencyFrames = 0;
};

// The timing of the read or write under way on this thread; null outside one, and inside one of
// a backend that does not know its timing.
const StreamTiming *currentStreamTiming();

// A backend's stream thread holds one around each read or write of its stream's device.
class StreamTimingScope
{
public:
    // `at`: when the read or write began, if not now (a backend that moves several streams at
    // one instant of its clock).
    explicit StreamTimingScope(int64_t latencyFrames, std::chrono::steady_clock::time_point at
                                                      = std::chrono::steady_clock::now());
    ~StreamTimingScope();
    StreamTimingScope(const StreamTimingScope &) = delete;
    StreamTimingScope &operator=(const StreamTimingScope &) = delete;

private:
    StreamTiming timing_;
    const StreamTiming *outer_;
};

} // namespace audio
