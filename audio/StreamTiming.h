#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace audio {

// When the frames a backend's stream thread is moving right now meet the outside world, as the
// backend knows it. For a render stream's read from its source: when the first frame read
// leaves the output. For a capture stream's write to its sink: when the first frame written
// was captured. Code that runs inside that read or write, on that thread (a test signal
// reporting the samples it makes, the recording front end handing on a block), reads it to pair
// what it sees with the moment the sound left the output or reached the input. A per-thread
// value: nothing is locked or allocated.
//
// Two answers travel side by side. The device's own, where it tells one: the moment its clock
// gives for the frame's position. And the estimate from when the read or write began and what
// is queued, which any backend can make but a busy machine spoils: a block handed on late looks
// captured late. The reach says how far apart the two may honestly lie.
struct StreamTiming
{
    using Clock = std::chrono::steady_clock;

    Clock::time_point at; // when the read or write began
    // Frames between `at` and the first frame meeting the outside world, as estimated from what
    // is queued. Render: frames that play before it. Capture: frames since it was captured
    // (0: its age is not known without the device's clock).
    int64_t latencyFrames = 0;
    // When the first frame meets the outside world by the device's clock; none where the device
    // tells no time.
    std::optional<Clock::time_point> deviceAt;
    // Frames that may lie between `at` and that moment: what the stream's buffer holds and the
    // latency the device reports.
    int64_t reachFrames = 0;
};

// The timing of the read or write under way on this thread; null outside one, and inside one of
// a backend that does not know its timing.
const StreamTiming *currentStreamTiming();

// A backend's stream thread holds one around each read or write of its stream's device.
class StreamTimingScope
{
public:
    explicit StreamTimingScope(const StreamTiming &timing);
    ~StreamTimingScope();
    StreamTimingScope(const StreamTimingScope &) = delete;
    StreamTimingScope &operator=(const StreamTimingScope &) = delete;

private:
    StreamTiming timing_;
    const StreamTiming *outer_;
};

} // namespace audio
