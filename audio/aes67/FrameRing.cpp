#include "audio/aes67/FrameRing.h"

#include <algorithm>

namespace audio::aes67 {

FrameRing::FrameRing()
{
    for (auto &slot : slots_)
        slot.store(0.0f, std::memory_order_relaxed);
}

qint64 FrameRing::write(const float *data, qint64 frames, int channels)
{
    if (!data || frames < 1 || channels < 1)
        return 0;
    qint64 dropped = 0;
    if (frames > capacity) {
        dropped = frames - capacity;
        data += dropped * channels;
        frames = capacity;
    }
    const int kept = std::min(channels, slotsPerFrame);
    const qint64 w = write_.load(std::memory_order_relaxed); // this is the only writer

    // Free the slots this block needs before touching them.
    const qint64 oldestKept = w + frames - capacity;
    qint64 r = read_.load(std::memory_order_acquire);
    while (r < oldestKept) {
        if (read_.compare_exchange_weak(r, oldestKept, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
            dropped += oldestKept - r;
            break;
        }
    }

    for (qint64 i = 0; i < frames; ++i) {
        std::atomic<float> *frame = &slots_[((w + i) & mask) * slotsPerFrame];
        const float *in = data + i * channels;
        for (int c = 0; c < kept; ++c)
            frame[c].store(in[c], std::memory_order_relaxed);
    }
    write_.store(w + frames, std::memory_order_release);
    channels_.store(kept, std::memory_order_release);
    return dropped;
}

qint64 FrameRing::read(float *out, qint64 maxFrames)
{
    if (!out || maxFrames < 1)
        return 0;
    qint64 r = read_.load(std::memory_order_acquire);
    for (;;) {
        const qint64 n = std::min(write_.load(std::memory_order_acquire) - r, maxFrames);
        if (n <= 0)
            return 0;
        for (qint64 i = 0; i < n; ++i) {
            const std::atomic<float> *frame = &slots_[((r + i) & mask) * slotsPerFrame];
            for (int c = 0; c < slotsPerFrame; ++c)
                out[i * slotsPerFrame + c] = frame[c].load(std::memory_order_relaxed);
        }
        // Commit only when the writer did not drop (and overwrite) frames meanwhile; otherwise
        // start again from the oldest frame it left.
        if (read_.compare_exchange_strong(r, r + n, std::memory_order_acq_rel,
                                          std::memory_order_acquire))
            return n;
    }
}

qint64 FrameRing::available() const
{
    // Read counter first: the write counter can only have grown since.
    const qint64 r = read_.load(std::memory_order_acquire);
    return std::min(write_.load(std::memory_order_acquire) - r, capacity);
}

} // namespace audio::aes67
