#pragma once

#include "engine/dsp/BinRecord.h"
#include "engine/dsp/CalCurve.h"
#include "engine/dsp/Coherence.h"
#include "engine/dsp/Deconvolution.h"
#include "engine/dsp/FourierTransform.h"
#include "engine/dsp/WindowFunction.h"
#include "engine/tf/ImpulsePoint.h"
#include "engine/tf/PeriodAnalysis.h"
#include "engine/tf/TransferAverager.h"
#include "engine/tf/WorkerThread.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

// The transfer-function analysis of one measurement, apart from where its samples come from.
// (measurement, reference) pairs are pushed in and kept once, in a ring the transforms read
// directly; analyse() turns the latest block into per-bin records (calibrated magnitude, phase,
// coherence, bin meters) and the impulse response under the chosen averaging; estimateDelay()
// finds the lag between the two channels over the last 65536 pairs. It has no Qt object, timer
// or singleton: one thread drives it, and a helper thread of its own computes the impulse half
// of each tick beside the bins.
class TransferAnalyser
{
public:
    // Pairs the delay finder looks at, whatever the transform size.
    static constexpr uint32_t delayFinderSize = 65536;

    explicit TransferAnalyser(uint32_t size = 16384, uint32_t sampleRate = 48000);

    // A power of two from 2 to 65536. The pairs and the averages start again.
    void setSize(uint32_t size);
    void setSampleRate(uint32_t sampleRate);
    void setWindow(WindowFunction::Type type);
    // 0 none, 1 per-bin Bessel smoothing, 2 moving window, 3 cumulative.
    void setAverageType(int type);
    void setAverageDepth(uint32_t depth);
    void setFilterPreset(int preset);
    // The reference is read this many pairs back, modulo the size (ahead when negative).
    void setDelay(int64_t pairs) { delay_ = pairs; }
    // Per-bin gains from the curves (either may be null or empty: no calibration of that
    // channel): the measurement is divided by the microphone's, multiplied by the reference's.
    // They follow later size and rate changes. True when at least one curve applies.
    bool setCalibration(std::shared_ptr<CalCurve> microphone, std::shared_ptr<CalCurve> reference);

    uint32_t size() const { return size_; }
    uint32_t bins() const { return size_ / 2; }
    uint32_t sampleRate() const { return sampleRate_; }

    void push(float data, float reference);
    // The input lost pairs here: the averages start again, and the analysis waits until the
    // block holds none of the pairs around the gap.
    void restartAfterLoss();
    // The pairs already in count as whole again, as at the start of a run.
    void forgetLosses() { pairsSinceLoss_ = std::numeric_limits<uint32_t>::max(); }
    // The averages start again from the next tick's pairs on.
    void resetAverage();

    // One tick. False when the records were left as they are (averages not ready yet, or the
    // block still reaches back past a gap); the impulse response is computed either way.
    bool analyse();
    // A period measured whole (a phone's capture of the test signal, see PhoneBlockPath) stands
    // for `pairs` pairs, as far as the cumulative average's count goes.
    void addPeriodPairs(uint64_t pairs) { averager_.addFrames(pairs); }
    // One tick over such a period's band sums and impulse response instead of the ring's
    // block. False when the records were left as they are (averages not ready, or a period
    // analysed for another transform size).
    bool analysePeriod(const PeriodAnalysis &period);
    // The delay finder over the last 65536 pairs.
    void estimateDelay();
    // The lag found by the last estimate, positive when the measurement lags the reference.
    int64_t delayPairs() const;
    // The lag over the last 65536 pairs where the sound shows one, leaving the last estimate
    // as it is: the impulse response's peak stands clear of the rest, as no peak of two
    // unrelated signals does.
    std::optional<int64_t> heardLag();

    const std::vector<BinRecord> &records() const { return records_; }
    const std::vector<ImpulsePoint> &impulse() const { return impulse_; }

private:
    FourierTransform::RingBlock lastPairs(uint32_t count, int64_t referenceBack) const;
    static int64_t lagOf(uint32_t peak);
    // Whether any reference of a block of size_ pairs is not silent.
    bool carriesReference(const FourierTransform::RingBlock &block) const;
    void writeBinFrequencies();
    void buildCalibrationGains();
    TransferAverager::Calibration calibration() const;
    void computeTransferFunction();
    static void computeImpulse(void *context);

    uint32_t size_;
    uint32_t sampleRate_;
    int64_t delay_ = 0;

    // The pairs, oldest overwritten first.
    uint32_t ringSize_ = 0;
    std::vector<float> dataRing_;
    std::vector<float> referenceRing_;
    uint32_t writePosition_ = 0;
    uint32_t newPairs_ = 0; // since the last tick, at most size_
    uint32_t pairsSinceLoss_ = std::numeric_limits<uint32_t>::max();

    FourierTransform transform_;
    Deconvolution impulseFinder_;
    Deconvolution delayFinder_;
    uint32_t delayPeak_ = 0;
    TransferAverager averager_;
    Coherence coherence_;
    bool analyseThisTick_ = false;
    WorkerThread worker_;

    std::vector<BinRecord> records_;
    std::vector<ImpulsePoint> impulse_;

    std::shared_ptr<CalCurve> microphoneCurve_;
    std::shared_ptr<CalCurve> referenceCurve_;
    // Empty while the channel is uncalibrated.
    std::vector<float> microphoneGains_;
    std::vector<float> referenceGains_;
};
