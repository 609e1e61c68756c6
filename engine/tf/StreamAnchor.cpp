#include "engine/tf/StreamAnchor.h"

void AnchorSlot::reset()
{
    sequence_.store(0);
    lastBlock_.reset();
}

void AnchorSlot::publish(uint64_t index, const audio::StreamTiming &timing)
{
    const uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    index_.store(index, std::memory_order_relaxed);
    atNs_.store(std::chrono::nanoseconds(timing.at.time_since_epoch()).count(),
                std::memory_order_relaxed);
    latency_.store(timing.latencyFrames, std::memory_order_relaxed);
    sequence_.store(sequence + 2, std::memory_order_release);
}

void AnchorSlot::takeBlock(uint64_t firstIndex)
{
    if (const audio::StreamTiming *timing = audio::currentStreamTiming())
        publish(firstIndex, *timing);
}

void AnchorSlot::takeSample(uint64_t index)
{
    const audio::StreamTiming *timing = audio::currentStreamTiming();
    if (!timing)
        return;
    if (lastBlock_ && *lastBlock_ != timing->at)
        publish(index, *timing);
    lastBlock_ = timing->at;
}

std::optional<StreamAnchor> AnchorSlot::anchor() const
{
    for (;;) {
        const uint64_t before = sequence_.load(std::memory_order_acquire);
        if (before == 0)
            return std::nullopt;
        StreamAnchor anchor;
        anchor.index = index_.load(std::memory_order_relaxed);
        anchor.at = std::chrono::steady_clock::time_point(
                std::chrono::nanoseconds(atNs_.load(std::memory_order_relaxed)));
        anchor.latencyFrames = latency_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before % 2 == 0 && sequence_.load(std::memory_order_relaxed) == before)
            return anchor;
    }
}

double loopbackPositionFor(uint64_t pairIndex, const StreamAnchor &capture, double inputRate,
                           const StreamAnchor &render, double loopbackRate)
{
    using seconds = std::chrono::duration<double>;
    // The pair was captured this long after the render anchor's block was read...
    const double capturedAfter
            = seconds(capture.at - render.at).count()
              + (double(pairIndex) - double(capture.index) - double(capture.latencyFrames))
                        / inputRate;
    // ... and the anchor's sample left the output its latency after that read.
    return double(render.index) + capturedAfter * loopbackRate - double(render.latencyFrames);
}
