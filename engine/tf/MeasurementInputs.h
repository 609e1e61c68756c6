#pragma once

#include "common/SpscRing.h"
#include "engine/tf/StreamAnchor.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

// What the audio threads hand to a measurement, waiting for its GUI-side tick: (microphone,
// reference) pairs from the capture thread with the places where the capture lost frames, and
// the generator's looped-back samples from the render thread. Each producer writes into a fixed
// ring of its own; no side locks or allocates, so an audio thread never waits for the tick.
//
// Producers get in only while the inputs are open; close() waits for those already inside, so
// after it returns nothing is written until the next open().
class MeasurementInputs
{
public:
    struct Pair
    {
        float data;
        float reference;
    };
    // Frames the capture lost before a pair; unknownLoss when nobody can tell how many.
    static constexpr int64_t unknownLoss = -1;

    // Room for `capacity` pairs and as many loopback samples: at least two and a half seconds
    // at 192 kHz between two ticks.
    explicit MeasurementInputs(std::size_t capacity = std::size_t(1) << 19);

    void open();
    void close();

    // ---- capture side (one thread at a time) ----

    // A block of pairs. A second thread arriving while one is writing has its block dropped and
    // counted as a loss of unknown place.
    void writePairs(const float *data, const float *reference, std::size_t count);
    // The capture lost `frames` frames (or unknownLoss) before the next pair.
    void writeLoss(int64_t frames);

    // ---- render side ----

    // A block of looped-back samples, in order.
    void writeLoopback(const float *samples, std::size_t count);

    // ---- consumer (the measurement's thread) ----

    // Hands every pair written since the last call and before the count `upTo` (a
    // pairsWritten() read earlier), oldest first, to onPair(const Pair &), and every loss to
    // onLoss(int64_t frames) at its place among them. Losses that have no place (a ring that
    // overflowed unnoticed, two writers at once) come last, as unknownLoss.
    template<typename OnPair, typename OnLoss>
    void takePairs(OnPair onPair, OnLoss onLoss, uint64_t upTo = UINT64_MAX);
    // Hands every looped-back sample written since the last call to onSample(float); returns
    // false when some were lost on the way (the ring was full).
    template<typename OnSample>
    bool takeLoopback(OnSample onSample);
    void discardPairs();
    void discardLoopback();
    // Pairs and looped-back samples taken or discarded so far, counted as the anchors count.
    uint64_t pairsTaken() const { return pairs_.taken(); }
    uint64_t loopbackTaken() const { return loopback_.taken(); }
    // Pairs and looped-back samples handed over so far.
    uint64_t pairsWritten() const { return pairs_.written(); }
    uint64_t loopbackWritten() const { return loopback_.written(); }
    // Where each stream last met the outside world, as far as its audio thread could tell from
    // the audio layer's timing since the last open(): the latest capture block, and the latest
    // whole block of looped-back samples.
    std::optional<StreamAnchor> captureAnchor() const { return captureAnchor_.anchor(); }
    std::optional<StreamAnchor> loopbackAnchor() const { return loopbackAnchor_.anchor(); }

private:
    struct Loss
    {
        uint64_t position; // the pair the frames were lost before
        int64_t frames;
    };
    class Entry;

    SpscRing<Pair> pairs_;
    SpscRing<Loss> losses_;
    SpscRing<float> loopback_;
    uint64_t pendingLoss_ = 0; // capture side: pairs that did not fit, not yet recorded
    std::atomic<bool> open_{false};
    alignas(64) std::atomic<int> captureInside_{0};
    alignas(64) std::atomic<int> renderInside_{0};
    std::atomic<bool> captureBusy_{false};
    std::atomic<uint64_t> unplacedLosses_{0};
    std::atomic<uint64_t> loopbackLost_{0};
    uint64_t loopbackLostSeen_ = 0; // consumer only
    AnchorSlot captureAnchor_;
    AnchorSlot loopbackAnchor_;
};

template<typename OnPair, typename OnLoss>
void MeasurementInputs::takePairs(OnPair onPair, OnLoss onLoss, uint64_t upTo)
{
    // The pair count first: a loss recorded before those pairs is then surely visible too.
    const uint64_t end = std::min(upTo, pairs_.written());
    for (;;) {
        const Loss *loss = losses_.front();
        const uint64_t at = pairs_.taken();
        const uint64_t stop = loss ? std::clamp(loss->position, at, end) : end;
        pairs_.consume(
                [&onPair](const Pair *pairs, std::size_t n) {
                    for (std::size_t i = 0; i < n; ++i)
                        onPair(pairs[i]);
                },
                std::size_t(stop - at));
        if (!loss || loss->position > end)
            break;
        onLoss(loss->frames);
        losses_.pop();
    }
    if (unplacedLosses_.exchange(0) > 0)
        onLoss(unknownLoss);
}

template<typename OnSample>
bool MeasurementInputs::takeLoopback(OnSample onSample)
{
    loopback_.consume([&onSample](const float *samples, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            onSample(samples[i]);
    });
    const uint64_t lost = loopbackLost_.load(std::memory_order_acquire);
    const bool whole = lost == loopbackLostSeen_;
    loopbackLostSeen_ = lost;
    return whole;
}
