#pragma once

#include "engine/tf/BlockAligner.h"
#include "engine/tf/BlockBaseline.h"
#include "engine/tf/BlockStatus.h"
#include "engine/tf/PeriodAnalysis.h"
#include "engine/tf/WelchCoherence.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the block path reads of one phone's samples: the phone-audio server's ring, addressed by
// the phone's absolute sample index.
class PhoneSamples
{
public:
    enum ReadResult { Copied = 0, NotYetWritten = 1, Gone = 2, CrossesGap = 3 };

    virtual ~PhoneSamples() = default;
    virtual bool connected() const = 0;
    virtual uint32_t sampleRate() const = 0;
    // The index after the newest sample; 0 before the first.
    virtual uint64_t writeIndex() const = 0;
    virtual int read(uint64_t start, int64_t count, float *out) const = 0;
    // When the newest samples arrived, in ms since the epoch; 0 when unknown.
    virtual int64_t lastPacketTimeMs() const = 0;
};

// The measurement of a phone's capture of a known test signal. A phone's samples run on the
// phone's clock and arrive late and with holes, so they cannot be paired with the reference in
// real time. Instead, each step cuts from the phone's ring one block that should hold a whole
// period of the signal (an exponential sweep, or a period of periodic noise), finds where the
// period starts and how fast the phone's clock runs, resamples the period onto the generator's
// grid and, when its score holds up, measures it against the signal's own template over the
// whole period. Once locked on, the next block is read where the next period must start. A
// sweep run is complete after eight valid blocks.
//
// Every outcome is a BlockStatus; voided and skipped blocks are reported in log lines.
class PhoneBlockPath
{
public:
    static constexpr int sweepType = 2;
    static constexpr int periodicNoiseType = 4;
    static constexpr int periodicNoiseLength = 65536;
    static constexpr uint32_t periodicNoiseSeed = 0x50524E21;
    static constexpr int64_t minSweepLength = 4096;
    static constexpr int runBlocks = 8;
    // The phone ring keeps 10 s; a block never reads more than 9 s of it.
    static constexpr int64_t maxReadSeconds = 9;
    // A block once locked on is read when a period and a quarter past its expected start have
    // arrived, from a quarter period before it: a period and a half back from the newest
    // sample, later by up to a step's worth of samples. The longest sweep whose blocks a ring
    // of `ringSeconds` still holds then, with a second to spare for late steps and bursts.
    static constexpr double longestTrackedSweepSeconds(double ringSeconds)
    {
        return (ringSeconds - 1.0) / 1.5;
    }

    // One period of periodic noise: (length, seed, RMS) -> samples.
    using NoiseMaker = std::function<std::vector<float>(int, uint32_t, double)>;

    // The generator as it stands at a step.
    struct Generator
    {
        bool running = false;
        int type = 0;
        uint32_t sampleRate = 0;
        float startFrequency = 20.0f;
        float endFrequency = 20000.0f;
        float duration = 1.0f;
        float gainDb = 0.0f;
    };

    // The measurement's settings that a step uses.
    struct Settings
    {
        float offset = 1.0f; // on the reference, i.e. the template
        float gain = 1.0f; // on the phone's samples
        bool polarity = false;
        uint32_t fftSize = 16384; // of the published records
    };

    struct LogLine
    {
        bool warning = false;
        std::string text; // after the tag and the phone's id
    };

    // What a step asks of the measurement besides the status.
    struct Step
    {
        std::vector<LogLine> log;
        // The generator's rate, which the measurement's input rate must follow; 0 before the
        // step got that far.
        uint32_t generatorRate = 0;
        // A block was measured: analysis() holds its values, `measuredSamples` long.
        int64_t measuredSamples = 0;
        bool delayChanged = false;
        bool runCompleted = false;
    };

    explicit PhoneBlockPath(NoiseMaker periodicNoise);

    // Starts afresh, as a measurement does on every activation with a phone as its input.
    void reset();
    // One step. `firstLoopbackMs` is when the generator's first sample of the run was played
    // (ms since the epoch, −1 while not yet); a step that sees the generator start clears it.
    Step step(const PhoneSamples &phone, const Generator &generator, const Settings &settings,
              std::atomic<int64_t> &firstLoopbackMs);

    BlockStatus status() const { return status_; }
    const PeriodAnalysis &analysis() const { return analysis_; }
    bool tracking() const { return tracking_; }
    int validBlocks() const { return validBlocks_; }
    int voidedBlocks() const { return voidedBlocks_; }
    int skippedBlocks() const { return baseline_.totalSkipped(); }
    // The residual delay of the last measured block in ms (alignment removes the rest).
    float delayMs() const { return delayMs_; }
    // The phone's clock against the generator's, from the last aligned block.
    float lastPpm() const { return lastPpm_; }

private:
    struct TemplateKey
    {
        bool periodic = false;
        float start = 0.0f;
        float end = 0.0f;
        float duration = 0.0f;
        float amplitude = 0.0f;
        uint32_t rate = 0;
        friend bool operator==(const TemplateKey &, const TemplateKey &) = default;
    };

    // A block read from the phone and what is known of where it lies.
    struct Block
    {
        int64_t window = 0; // phone samples one period should take
        int64_t margin = 0; // read before and after it
        int64_t start = 0;
        int64_t length = 0;
        uint64_t writeIndex = 0;
        int64_t templateLength = 0;
        double ratio = 1.0;
        uint32_t phoneRate = 0;
        uint32_t generatorRate = 0;
        bool periodic = false;
    };

    void onGeneratorStarted(bool periodic, std::atomic<int64_t> &firstLoopbackMs);
    void updateTemplate(const Generator &generator, const Settings &settings, bool periodic);
    // Where the next block starts, or false when there is none to read now.
    bool placeBlock(const PhoneSamples &phone, Block &block);
    bool readBlock(const PhoneSamples &phone, const Block &block, Step &out);
    void voidBlock(BlockStatus status, const std::string &reason, Step &out);
    void alignmentFailed(const BlockAlignment &alignment, Step &out);
    bool judge(const BlockAlignment &alignment, Step &out);
    void measure(const Settings &settings, Step &out);
    void checkWallClock(const PhoneSamples &phone, const Block &block,
                        const BlockAlignment &alignment, int64_t firstLoopbackMs, Step &out);
    void refuseLongSweep(const Block &block, int64_t longestRead, Step &out);
    std::string counts() const;
    void setStatus(BlockStatus status) { status_ = status; }

    NoiseMaker periodicNoise_;
    BlockStatus status_ = BlockStatus::NoPhone;

    bool tracking_ = false;
    int64_t nextExpectedStart_ = 0;
    double drift_ = 1.0;
    int64_t templateLength_ = 0;
    bool generatorWasRunning_ = false;
    int validBlocks_ = 0;
    int voidedBlocks_ = 0;
    bool runComplete_ = false;
    int64_t refusedLength_ = 0; // the sweep length last refused as too long
    BlockBaseline baseline_;
    float delayMs_ = 0.0f;
    float lastPpm_ = 0.0f;

    std::vector<float> readBuffer_;
    std::vector<float> measured_;
    TemplateKey templateKey_;
    BlockAligner aligner_;
    WelchCoherence welch_;
    PeriodAnalysis analysis_;
};
