#pragma once

#include <QtGlobal>
#include <array>
#include <atomic>

namespace audio::aes67 {

// The network sender's frame store: 8192 frames of 8 float slots, one writer (the generator
// thread, through Sender::push) and one reader (whatever packetises the stream). Neither side
// locks or allocates. Both counters only grow; frame n lives in slot n & 8191.
//
// A writer that finds no room drops the oldest unread frames by moving the read counter itself
// (compare-and-swap, so a reader that moves it at the same moment never loses its step), and
// only then writes the slots it has freed. A reader copies frames first and commits them with a
// compare-and-swap on the read counter; when the writer overtook it meanwhile, the copy may hold
// half-overwritten frames and is thrown away.
class FrameRing
{
public:
    static constexpr qint64 capacity = 8192;
    static constexpr int slotsPerFrame = 8;

    FrameRing();

    // Copies `frames` interleaved frames of `channels` samples (the first 8 of each frame are
    // kept; the remaining slots of a frame keep what they held). Returns the frames dropped:
    // the head of a block longer than the ring plus the oldest unread frames overwritten.
    qint64 write(const float *data, qint64 frames, int channels);

    // Copies up to `maxFrames` unread frames, 8 floats each, into `out` and consumes them.
    // Returns the frames read; 0 when nothing is waiting.
    qint64 read(float *out, qint64 maxFrames);

    qint64 writeCount() const { return write_.load(std::memory_order_acquire); }
    qint64 readCount() const { return read_.load(std::memory_order_acquire); }
    qint64 available() const;
    // The channel count of the frames last written (2 before anything was written, at most 8).
    int channelCount() const { return channels_.load(std::memory_order_acquire); }

    void requestStop() { stop_.store(true, std::memory_order_release); }
    void clearStop() { stop_.store(false, std::memory_order_release); }
    bool stopRequested() const { return stop_.load(std::memory_order_acquire); }

private:
    static constexpr qint64 mask = capacity - 1;

    // Relaxed atomics: a reader that races the writer on an overwritten slot reads a stale or a
    // new value (then discards it) instead of undefined behaviour.
    std::array<std::atomic<float>, capacity * slotsPerFrame> slots_;
    std::atomic<qint64> write_{0};
    std::atomic<qint64> read_{0};
    std::atomic<int> channels_{2};
    std::atomic<bool> stop_{false};
};

} // namespace audio::aes67
