#pragma once

#include "audio/StreamTiming.h"
#include "common/SeqLock.h"

#include <cstdint>
#include <optional>

// One moment of a stream as the audio layer reported it: the sample with this index (counted
// as its ring counts) met the outside world as `timing` tells.
struct StreamAnchor
{
    uint64_t index = 0;
    audio::StreamTiming timing;
};

// The latest anchor of a stream, written by its audio thread at every block and read by the
// measurement's thread; the audio thread never locks or waits.
class AnchorSlot
{
public:
    // Forgets the anchor; only while no audio thread writes.
    void reset();
    // Capture side: every block whose timing is known anchors the stream at its first sample.
    void takeBlock(uint64_t firstIndex);
    // Render side: samples arrive in blocks, the first ones maybe from the middle of a read;
    // the first sample of every later read anchors the stream.
    void takeSample(uint64_t index);
    std::optional<StreamAnchor> anchor() const { return latest_.load(); }

private:
    realtime::SeqLock<StreamAnchor> latest_;
    // Render side: when the read of the last sample began.
    std::optional<audio::StreamTiming::Clock::time_point> lastRead_;
};
