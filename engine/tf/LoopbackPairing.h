#pragma once

#include "engine/tf/StreamAnchor.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Pairs the generator's looped-back samples with the recording: each input sample with the
// loopback sample that left the output when it was captured. It learns when each stream met
// the outside world from the anchors the audio threads leave, a second of blocks at a time: by
// the devices' clocks where they tell, else by when the blocks were handed over.
//
// A pairing it cannot trust is not applied. A loopback sample reaches the measurement before
// its sound does, and no longer before than the two streams' buffers hold plus the latencies
// the devices report: a pairing outside that (with a margin) is a misreading, and so no pairing
// moves further than that either. A misreading is logged, left out, and the next second
// decides again. The first pairing and every re-pairing need two seconds in a row to agree, and
// take the earlier of the two (a sound server's clock tells nonsense for a moment after a stream
// starts, and then wanders); the log says which stream moved.
//
// Once paired, the sound itself tells whether the streams really moved: the lag at which the
// recording follows its reference stays where the pairing left it (the path's own delay) until
// a stream moves. A sound server that smooths the latency it reports wanders off for seconds on
// a busy machine, and after it ran dry overshoots before it comes back: when the timing moves
// the pairing beyond the tolerance, it is moved only if the sound moved the same way, standing
// at one place two seconds in a row, and by what the sound shows, to the sample.
// Timing that moves while the sound stays is logged once and left unheeded. Where the sound
// stood still over the two seconds before a first pairing, it is known from that pairing on:
// the server's report wanders most just after its stream ran dry, which is also when a pairing
// is made, and the sound since it needs more than a second of pairs to be read. Where it did
// not, the timing alone decides until the sound has been heard after the pairing, as it does
// for the first pairing.
class LoopbackPairing
{
public:
    struct Rates
    {
        double input = 48000.0;
        double loopback = 48000.0;
    };
    // Where the streams stand at a tick, in samples as their rings count them.
    struct Counts
    {
        uint64_t nextPair = 0; // the next pair to be taken
        // The loopback position (fractions included) the next pair would be paired with now.
        double pairedPosition = 0.0;
        uint64_t pairsIn = 0; // pairs handed over so far
        uint64_t loopbackIn = 0; // loopback samples handed over so far
    };
    // Moves smaller than this are the timing's own wander.
    static constexpr double toleranceSeconds = 0.01;
    // What the devices can delay beyond their buffers and reported latencies: where a busy
    // machine's threads read their clocks and hand their blocks on.
    static constexpr double marginSeconds = 0.1;

    // The sound's lag is read within `soundReachPairs` pairs either way.
    explicit LoopbackPairing(double soundReachPairs)
        : soundReachPairs_(soundReachPairs)
    { }

    // A new run: nothing paired; the first second begins at pair `nextPair`.
    void restart(uint64_t nextPair);
    // The input lost `frames` frames before pair `nextPair` (negative: nobody knows how many),
    // which the loopback skips. The next second decides afresh; after a loss of unknown length
    // the pairing is unknown, and the next one is a first pairing again.
    void inputLost(int64_t frames, uint64_t nextPair, double inputRate);
    // Logs how far the streams' timing wandered against the sound since the first pairing, when
    // it wandered by a millisecond or more: the pairing, made by that timing, can be as far off.
    void reportWander() const;

    // Whether the tick with the next pair at `nextPair` completes a second of pairs.
    bool secondComplete(uint64_t nextPair, double inputRate) const
    {
        return double(nextPair) >= double(windowStart_) + inputRate;
    }

    // At every tick, with the latest anchors of both streams and, at a tick that completes a
    // second, the lag in seconds at which the recording followed its reference over the pairs
    // since the last move, where the sound shows one (positive: the recording lags). Once a
    // second of pairs has come, returns by how many loopback samples to move the reference
    // (positive: to later samples) when the pairing is made or changed.
    std::optional<double> step(const std::optional<StreamAnchor> &capture,
                               const std::optional<StreamAnchor> &render, const Counts &counts,
                               Rates rates, std::optional<double> soundLag = std::nullopt);

private:
    // When the sample counted 0 of one stream met the outside world, in seconds on the steady
    // clock, as the anchors of one second tell it.
    class Sightings
    {
    public:
        void clear();
        void add(const StreamAnchor &anchor, double rate, bool render);
        bool empty() const { return handed_ == std::nullopt; }
        bool deviceTimed() const { return deviceCount_ > 0; }
        // By the devices' clocks (the middle of what they told), else by the hand-over.
        double origin() const;
        // How long the stream may hold a sample: its buffer and reported latency, in seconds.
        double reach() const { return reach_; }
        // Frames between the last anchor's read or write and its sound.
        int64_t lastLatencyFrames() const { return lastLatencyFrames_; }

    private:
        std::array<double, 64> deviceOrigins_{};
        std::size_t deviceCount_ = 0;
        std::optional<double> handed_; // the block that waited least
        double reach_ = 0.0;
        int64_t lastLatencyFrames_ = 0;
    };
    // What one second of sightings says.
    struct Estimate
    {
        double capture = 0.0; // origins
        double render = 0.0;
        double bound = 0.0; // the most the devices can delay, with the margin
        bool deviceTimed = false;

        // How long after the loopback's sample 0 left the input's sample 0 was captured.
        double lead() const { return capture - render; }
    };
    Estimate estimate() const;
    void startWindow(uint64_t nextPair);
    // How long before its sound came in the pairing has each loopback sample come in.
    static double heldFor(const Estimate &e, const Counts &counts, Rates rates);
    static bool plausible(const Estimate &e, double held);
    void refuse(const Estimate &e, double held);
    // The second before, when it found the same lead as this one within the tolerance.
    std::optional<Estimate> earlierOfTwoAgreeing(const Estimate &e);
    // By how many seconds to move the reference, given two seconds that agree; none when the
    // pairing stays.
    std::optional<double> moveTo(const Estimate &agreed, double current,
                                 std::optional<double> soundLag, Rates rates);
    // `steadySound`: the lag the sound stood at over the two seconds before, where it did.
    void pair(const Estimate &e, double move, Rates rates, std::optional<double> steadySound);
    // `soundLag` where the sound stands this second as it did the last (within its precision).
    std::optional<double> steadySound(std::optional<double> soundLag) const;
    // Where the timing moved the pairing by `timingMove` seconds and the sound stands at
    // `soundLag` (this second as the last): how far the sound says to move the pairing, when it
    // moved the same way by a millisecond or more; none when it stayed.
    std::optional<double> heardMove(double timingMove, double soundLag) const;
    // The sound's reading of a second without a move, when the second's timing would have moved
    // the pairing by `timingMove`; the first one after a pairing is where the pairing left it.
    void keepSound(std::optional<double> soundLag, double timingMove);
    void repair(const Estimate &e, double move, double timingMove);
    void leaveUnheeded(double timingMove, double soundLag);

    double soundReachPairs_;
    bool paired_ = false;
    uint64_t windowStart_ = 0; // the pair the current second of sightings began at
    Sightings capture_;
    Sightings render_;
    std::optional<Estimate> lastSecond_; // what the last second found
    bool refusing_ = false; // the last second's pairing was a misreading
    bool startingSecond_ = true; // the run's first second, which spans the streams' start
    // The origins of the pairing in force, the capture's moved on by the frames lost since.
    double pairedCapture_ = 0.0;
    double pairedRender_ = 0.0;
    // The recording's lag behind its reference as the sound showed it once paired, and at the
    // last second.
    std::optional<double> pairedSound_;
    std::optional<double> lastSound_;
    bool unheeding_ = false; // the timing's move is being left unheeded
    double wander_ = 0.0; // the farthest the timing stood from the pairing, the sound's moves aside
};
