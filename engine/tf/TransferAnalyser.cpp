#include "engine/tf/TransferAnalyser.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint64_t coherenceDepth = 21;

bool hasPoints(const std::shared_ptr<CalCurve> &curve)
{
    return curve && !curve->isEmpty();
}

} // namespace

TransferAnalyser::TransferAnalyser(uint32_t size, uint32_t sampleRate)
    : size_(size)
    , sampleRate_(sampleRate)
    , transform_(size)
    , impulseFinder_(size)
    , delayFinder_(delayFinderSize)
{
    constexpr auto window = WindowFunction::Hann;
    transform_.setSampleRate(sampleRate);
    transform_.setWindowType(window);
    transform_.prepare();
    impulseFinder_.setWindowType(window);
    delayFinder_.setWindowType(window);
    // Coherence keeps its depth across size changes; it is set before the first size.
    coherence_.setDepth(coherenceDepth);
    setSize(size);
}

void TransferAnalyser::setSize(uint32_t size)
{
    size_ = size;
    // Twice the longer of the two reads, so a reference read up to a whole transform back
    // still finds its own pairs behind the oldest of the block.
    ringSize_ = 2 * std::max(size, delayFinderSize);
    // Zeros, as a fresh transform starts: the block fills with the pairs from now on.
    dataRing_.assign(ringSize_, 0.0f);
    referenceRing_.assign(ringSize_, 0.0f);
    writePosition_ = 0;
    newPairs_ = 0;
    transform_.setSize(size);
    transform_.setSampleRate(sampleRate_);
    transform_.prepare();
    impulseFinder_.setSize(size);
    delayPeak_ = 0;
    records_.resize(bins());
    impulse_.resize(size);
    averager_.resize(bins(), size);
    coherence_.setSize(bins());
    writeBinFrequencies();
    buildCalibrationGains();
}

void TransferAnalyser::setSampleRate(uint32_t sampleRate)
{
    sampleRate_ = sampleRate;
    transform_.setSampleRate(sampleRate);
    transform_.prepare();
    writeBinFrequencies();
    buildCalibrationGains();
}

void TransferAnalyser::setWindow(WindowFunction::Type type)
{
    transform_.setWindowType(type);
    impulseFinder_.setWindowType(type);
    delayFinder_.setWindowType(type);
    transform_.prepare();
}

void TransferAnalyser::setAverageType(int type)
{
    averager_.setAverageType(type);
}

void TransferAnalyser::setAverageDepth(uint32_t depth)
{
    averager_.setDepth(depth);
}

void TransferAnalyser::setFilterPreset(int preset)
{
    averager_.setFilterPreset(preset);
}

bool TransferAnalyser::setCalibration(std::shared_ptr<CalCurve> microphone,
                                      std::shared_ptr<CalCurve> reference)
{
    microphoneCurve_ = std::move(microphone);
    referenceCurve_ = std::move(reference);
    buildCalibrationGains();
    return !microphoneGains_.empty() || !referenceGains_.empty();
}

void TransferAnalyser::writeBinFrequencies()
{
    const double binWidth = double(sampleRate_) / double(size_);
    for (uint32_t i = 0; i < bins(); ++i)
        records_[i].frequency = float(i * binWidth);
}

void TransferAnalyser::buildCalibrationGains()
{
    QList<float> frequencies;
    if (hasPoints(microphoneCurve_) || hasPoints(referenceCurve_)) {
        frequencies.reserve(bins());
        for (const BinRecord &record : records_)
            frequencies.append(record.frequency);
    }
    for (const auto &[curve, gains] : {std::pair{microphoneCurve_.get(), &microphoneGains_},
                                       std::pair{referenceCurve_.get(), &referenceGains_}}) {
        if (!curve || curve->isEmpty() || bins() == 0) {
            gains->clear();
            continue;
        }
        curve->buildLut(frequencies);
        gains->resize(bins());
        for (uint32_t i = 0; i < bins(); ++i)
            (*gains)[i] = curve->gainForBin(int(i));
    }
}

void TransferAnalyser::push(float data, float reference)
{
    dataRing_[writePosition_] = data;
    referenceRing_[writePosition_] = reference;
    writePosition_ = (writePosition_ + 1) & (ringSize_ - 1);
    newPairs_ = std::min(newPairs_ + 1, size_);
    if (pairsSinceLoss_ < std::numeric_limits<uint32_t>::max())
        ++pairsSinceLoss_;
}

void TransferAnalyser::restartAfterLoss()
{
    pairsSinceLoss_ = 0;
    averager_.reset();
}

void TransferAnalyser::resetAverage()
{
    averager_.reset();
    newPairs_ = 0;
    pairsSinceLoss_ = std::numeric_limits<uint32_t>::max();
}

FourierTransform::RingBlock TransferAnalyser::lastPairs(uint32_t count, int64_t referenceBack) const
{
    const int64_t ring = ringSize_;
    const uint32_t dataStart = uint32_t((writePosition_ + ring - count) % ring);
    const uint32_t referenceStart = uint32_t(((dataStart - referenceBack) % ring + ring) % ring);
    return {dataRing_.data(), referenceRing_.data(), ringSize_, dataStart, referenceStart};
}

bool TransferAnalyser::analyse()
{
    averager_.addFrames(newPairs_);
    newPairs_ = 0;
    // The delay counts in whole transforms of the pairs: any number of them more or less reads
    // the same pairs.
    const int64_t n = size_;
    const FourierTransform::RingBlock block = lastPairs(size_, (delay_ % n + n) % n);
    transform_.calculate(block);
    analyseThisTick_ = averager_.readyFor(size_) && pairsSinceLoss_ >= size_;
    if (analyseThisTick_)
        averager_.beginTick(averager_.settling() && averager_.framesSinceReset() >= size_
                            && carriesReference(block));
    // The impulse response and the bins read the same spectra and share no other state: the
    // impulse half runs on the helper thread meanwhile.
    worker_.start(&TransferAnalyser::computeImpulse, this);
    if (analyseThisTick_)
        computeTransferFunction();
    worker_.wait();
    return analyseThisTick_;
}

bool TransferAnalyser::carriesReference(const FourierTransform::RingBlock &block) const
{
    const auto heard = [&block](uint32_t from, uint32_t count) {
        return std::any_of(block.reference + from, block.reference + from + count,
                           [](float v) { return v != 0.0f; });
    };
    const uint32_t beforeWrap = std::min(size_, block.ringSize - block.referenceStart);
    return heard(block.referenceStart, beforeWrap) || heard(0, size_ - beforeWrap);
}

TransferAverager::Calibration TransferAnalyser::calibration() const
{
    return {microphoneGains_.empty() ? nullptr : microphoneGains_.data(),
            referenceGains_.empty() ? nullptr : referenceGains_.data()};
}

void TransferAnalyser::computeTransferFunction()
{
    averager_.processBins(transform_, calibration(), coherence_, records_.data());
}

bool TransferAnalyser::analysePeriod(const PeriodAnalysis &period)
{
    const std::vector<PeriodBin> &bins = period.bins();
    if (bins.size() != this->bins() || period.impulseSize() != size_ || !averager_.readyFor(size_))
        return false;
    // A period is measured whole, against the test signal itself.
    averager_.beginTick(true);
    averager_.processPeriod(bins, calibration(), records_.data());
    // In the spectra's own sign convention, as the live path stores conj(R)·D.
    coherence_.process(records_, [&bins](uint32_t i) {
        const PeriodBin &bin = bins[i];
        return Coherence::BandSums{bin.referencePower, bin.dataPower,
                                   Complex(bin.cross.real(), -bin.cross.imag())};
    });
    averager_.processImpulse(period, 1000.0f / float(sampleRate_), impulse_.data());
    return true;
}

void TransferAnalyser::computeImpulse(void *context)
{
    auto *self = static_cast<TransferAnalyser *>(context);
    self->impulseFinder_.calculate(&self->transform_);
    if (self->analyseThisTick_)
        self->averager_.processImpulse(self->impulseFinder_, 1000.0f / float(self->sampleRate_),
                                       self->impulse_.data());
}

void TransferAnalyser::estimateDelay()
{
    delayFinder_.calculate(lastPairs(delayFinderSize, 0));
    delayPeak_ = delayFinder_.peakIndex();
}

int64_t TransferAnalyser::delayPairs() const
{
    return lagOf(delayPeak_);
}

std::optional<int64_t> TransferAnalyser::heardLag()
{
    delayFinder_.calculate(lastPairs(delayFinderSize, 0));
    const uint32_t peak = delayFinder_.peakIndex();
    double power = 0.0;
    for (uint32_t i = 0; i < delayFinderSize; ++i)
        power += double(delayFinder_.impulseAt(i)) * double(delayFinder_.impulseAt(i));
    const double rms = std::sqrt(power / double(delayFinderSize));
    // Over 65536 lags, unrelated noise peaks at about four and a half times its RMS.
    constexpr double clearPeak = 10.0;
    if (!(std::abs(double(delayFinder_.impulseAt(peak))) > clearPeak * rms))
        return std::nullopt;
    return lagOf(peak);
}

int64_t TransferAnalyser::lagOf(uint32_t peak)
{
    const int64_t lag = peak;
    return lag > int64_t(delayFinderSize / 2) ? lag - delayFinderSize : lag;
}
