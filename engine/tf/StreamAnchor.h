#pragma once

#include "audio/StreamTiming.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

// One moment of a stream as the audio layer reported it: the sample with this index (counted
// as its ring counts) left the output `latencyFrames` frames after `at`, or was captured that
// many frames before.
struct StreamAnchor
{
    uint64_t index = 0;
    std::chrono::steady_clock::time_point at;
    int64_t latencyFrames = 0;
};

// The latest anchor of a stream, written by its audio thread at every block and read by the
// measurement's thread. A sequence count tells the reader to try again while a write is under
// way, so the audio thread never locks or waits.
class AnchorSlot
{
public:
    // Forgets the anchor; only while no audio thread writes.
    void reset();
    // Capture side: every block whose timing is known anchors the stream at its first sample.
    void takeBlock(uint64_t firstIndex);
    // Render side: samples arrive one by one, the first ones maybe from the middle of a block;
    // the first sample of every later block anchors the stream.
    void takeSample(uint64_t index);
    std::optional<StreamAnchor> anchor() const;

private:
    void publish(uint64_t index, const audio::StreamTiming &timing);

    std::atomic<uint64_t> sequence_{0}; // odd while a write is under way; 0: nothing yet
    std::atomic<uint64_t> index_{0};
    std::atomic<int64_t> atNs_{0};
    std::atomic<int64_t> latency_{0};
    // Render side: when the block of the last sample began.
    std::optional<std::chrono::steady_clock::time_point> lastBlock_;
};

// The loopback position (loopback samples as the loopback ring counts them, fractions included)
// that left the output when the pair `pairIndex` was captured, from one anchor of each stream
// and their rates.
double loopbackPositionFor(uint64_t pairIndex, const StreamAnchor &capture, double inputRate,
                           const StreamAnchor &render, double loopbackRate);
