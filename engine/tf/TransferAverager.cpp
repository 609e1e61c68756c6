#include "engine/tf/TransferAverager.h"

#include "engine/dsp/Coherence.h"
#include "engine/dsp/Deconvolution.h"
#include "engine/dsp/FourierTransform.h"
#include "engine/dsp/WideVectors.h"
#include "engine/tf/Finite.h"
#include "engine/tf/PeriodAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Length of the per-bin meters' windows, in ticks.
constexpr uint32_t binMeterWindow = 100;

} // namespace

// The values of a block of bins, a field at a time.
struct TransferAverager::Block
{
    static constexpr uint32_t capacity = 256;

    uint32_t count = 0;
    // The transfer function's magnitude (calibrated once calibrate() ran) and unit phasor, and
    // the measurement's amplitude.
    float magnitude[capacity];
    float amplitude[capacity];
    float phaseRe[capacity];
    float phaseIm[capacity];
    // What the coherence takes from the spectra, and gives.
    float referencePower[capacity];
    float dataPower[capacity];
    float crossRe[capacity];
    float crossIm[capacity];
    float coherence[capacity];
    // The bin meters' readings.
    float peak[capacity];
    float mean[capacity];
};

namespace {

// A block's values from its bins of the two spectra: amplitude A = |D|·√2 (√2 in double), the
// ratio A/B with B = |R|·√2, the phasor of R against D, and the coherence's powers.
WIDE_VECTOR_CLONES void spectraBlock(const Complex *__restrict data,
                                     const Complex *__restrict reference,
                                     TransferAverager::Block &block)
{
    for (uint32_t k = 0; k < block.count; ++k) {
        const Complex d = data[k];
        const Complex r = reference[k];
        const float amplitude = float(double(d.abs()) * std::numbers::sqrt2);
        const float referenceAmplitude = float(double(r.abs()) * std::numbers::sqrt2);
        const Complex phase = Complex::phaseDifference(r, d);
        const Complex cross = r.conj() * d;
        block.magnitude[k] = amplitude / referenceAmplitude;
        block.amplitude[k] = amplitude;
        block.phaseRe[k] = phase.re;
        block.phaseIm[k] = phase.im;
        block.referencePower[k] = r.norm();
        block.dataPower[k] = d.norm();
        block.crossRe[k] = cross.re;
        block.crossIm[k] = cross.im;
    }
}

// A ratio that is no number is 0; the measurement is divided by the microphone's gain and
// multiplied by the reference channel's, where they have one.
WIDE_VECTOR_CLONES void calibrate(TransferAverager::Block &block, const float *microphone,
                                  const float *reference)
{
    for (uint32_t k = 0; k < block.count; ++k) {
        float ratio = block.magnitude[k];
        if (!std::isfinite(ratio))
            ratio = 0.0f;
        if (microphone)
            ratio = ratio / microphone[k];
        if (reference)
            ratio = reference[k] * ratio;
        block.magnitude[k] = ratio;
    }
}

// The points of impulse samples [from, from + count) of a response of `size` samples: sample i
// is lag i up to N/2 and lag i − N above, and the points run from lag −(N/2 − 1) to N/2.
void placeImpulse(ImpulsePoint *points, uint32_t size, uint32_t from, uint32_t count,
                  const float *values, float msPerSample)
{
    const uint32_t half = size / 2;
    const uint32_t to = from + count;
    const uint32_t wrap = std::min(to, half + 1);
    for (uint32_t i = from; i < wrap; ++i)
        points[i + half - 1] = {float(int64_t(i)) * msPerSample, Complex(values[i - from])};
    for (uint32_t i = std::max(from, half + 1); i < to; ++i)
        points[i - half - 1]
                = {float(int64_t(i) - int64_t(size)) * msPerSample, Complex(values[i - from])};
}

} // namespace

void TransferAverager::resize(uint32_t bins, uint32_t size)
{
    const bool newCount = bins != bins_ || size != size_;
    bins_ = bins;
    size_ = size;
    cumulativeFrames_ = 0;
    framesSinceReset_ = 0;
    // The moving windows and sums start again; the other types' are made again when chosen.
    for (auto *window : {&movingMagnitude_, &movingAmplitude_})
        window->resize(depth_, 0);
    movingPhase_.resize(depth_, 0);
    movingImpulse_.resize(depth_, 0);
    for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_, &sumImpulse_})
        *sums = std::vector<double>();
    // Filters of a new count start from preset 0 with empty histories; those of the same count
    // keep theirs.
    if (newCount) {
        preset_ = 0;
        for (auto *bank : {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_, &smoothImpulse_})
            bank->resize(0);
        smoothingSettled_ = false;
    }
    if (binMeters_.bins() != bins)
        binMeters_.resize(bins, binMeterWindow);
    makeState();
}

void TransferAverager::setAverageType(int type)
{
    type_ = type;
    for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_, &sumImpulse_})
        std::fill(sums->begin(), sums->end(), 0.0);
    cumulativeFrames_ = 0;
    framesSinceReset_ = 0;
    makeState();
}

void TransferAverager::makeState()
{
    switch (type_) {
    case Smoothing:
        if (smoothMagnitude_.size() != bins_) {
            for (auto *bank : {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_})
                bank->resize(bins_);
            smoothImpulse_.resize(size_);
            for (auto *bank :
                 {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_, &smoothImpulse_})
                bank->setPreset(preset_);
            smoothingSettled_ = false;
        }
        break;
    case Moving:
        if (movingMagnitude_.width() != bins_) {
            movingMagnitude_.resize(depth_, bins_);
            movingAmplitude_.resize(depth_, bins_);
            movingPhase_.resize(depth_, bins_);
            movingImpulse_.resize(depth_, size_);
        }
        break;
    case Cumulative:
        if (sumMagnitude_.size() != bins_) {
            for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_})
                sums->assign(bins_, 0.0);
            sumImpulse_.assign(size_, 0.0);
        }
        break;
    default:
        break;
    }
}

void TransferAverager::setDepth(uint32_t depth)
{
    depth_ = std::max<uint32_t>(depth, 1);
    movingMagnitude_.resize(depth_, movingMagnitude_.width());
    movingAmplitude_.resize(depth_, movingAmplitude_.width());
    movingPhase_.resize(depth_, movingPhase_.width());
    movingImpulse_.resize(depth_, movingImpulse_.width());
}

void TransferAverager::setFilterPreset(int preset)
{
    if (preset >= 0 && preset < 3)
        preset_ = preset;
    for (auto *bank : {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_, &smoothImpulse_})
        bank->setPreset(preset);
    smoothingSettled_ = false;
}

void TransferAverager::reset()
{
    movingMagnitude_.clear();
    movingAmplitude_.clear();
    movingPhase_.clear();
    movingImpulse_.clear();
    for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_, &sumImpulse_})
        std::fill(sums->begin(), sums->end(), 0.0);
    cumulativeFrames_ = 0;
    framesSinceReset_ = 0;
    for (auto *bank : {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_, &smoothImpulse_})
        bank->clear();
    smoothingSettled_ = false;
    binMeters_.reset();
}

void TransferAverager::beginTick(bool settles)
{
    if (type_ == Cumulative)
        ++cumulativeFrames_;
    settleThisTick_ = settles && settling();
    smoothingSettled_ = smoothingSettled_ || settleThisTick_;
}

void TransferAverager::processBins(const FourierTransform &transform,
                                   const Calibration &calibration, Coherence &coherence,
                                   BinRecord *records)
{
    coherence.beginTick();
    processValues(calibration, records, [&](uint32_t from, Block &block) {
        spectraBlock(transform.dataBins() + from, transform.referenceBins() + from, block);
        coherence.store(from, block.count, block.referencePower, block.dataPower, block.crossRe,
                        block.crossIm, block.coherence);
        for (uint32_t k = 0; k < block.count; ++k)
            records[from + k].coherence = block.coherence[k];
    });
}

void TransferAverager::processPeriod(const std::vector<PeriodBin> &period,
                                     const Calibration &calibration, BinRecord *records)
{
    processValues(calibration, records, [&period](uint32_t from, Block &block) {
        for (uint32_t k = 0; k < block.count; ++k) {
            const std::complex<float> h = period[from + k].transfer();
            const Complex transfer(h.real(), h.imag());
            const Complex phase = Complex::phaseDifference(transfer, Complex(1.0f));
            block.magnitude[k] = transfer.abs();
            block.amplitude[k] = period[from + k].amplitude();
            block.phaseRe[k] = phase.re;
            block.phaseIm[k] = phase.im;
        }
    });
}

template<typename Values>
void TransferAverager::processValues(const Calibration &calibration, BinRecord *records,
                                     Values values)
{
    switch (type_) {
    case None:
        binLoop<None>(values, calibration, records);
        break;
    case Smoothing:
        binLoop<Smoothing>(values, calibration, records);
        break;
    case Moving:
        binLoop<Moving>(values, calibration, records);
        movingMagnitude_.advance();
        movingAmplitude_.advance();
        movingPhase_.advance();
        break;
    case Cumulative:
        binLoop<Cumulative>(values, calibration, records);
        break;
    default:
        break;
    }
}

template<int Type, typename Values>
void TransferAverager::binLoop(Values values, const Calibration &calibration, BinRecord *records)
{
    binMeters_.beginTick();
    if constexpr (Type == Smoothing) {
        for (auto *bank : {&smoothMagnitude_, &smoothAmplitude_, &smoothPhase_})
            bank->beginTick();
    }
    Block block;
    Block averaged;
    for (uint32_t from = 0; from < bins_; from += Block::capacity) {
        block.count = averaged.count = std::min(Block::capacity, bins_ - from);
        values(from, block);
        calibrate(block, calibration.microphone ? calibration.microphone + from : nullptr,
                  calibration.reference ? calibration.reference + from : nullptr);
        average<Type>(from, block, averaged);
        // `block` holds the amplitudes as cleaned by the moving and cumulative averages.
        binMeters_.add(from, block.count, block.amplitude, averaged.peak, averaged.mean);
        for (uint32_t k = 0; k < block.count; ++k) {
            BinRecord &record = records[from + k];
            record.magnitude = averaged.magnitude[k];
            record.amplitude = averaged.amplitude[k];
            record.phaseRe = averaged.phaseRe[k];
            record.phaseIm = averaged.phaseIm[k];
            record.peak = averaged.peak[k];
            record.mean = averaged.mean[k];
        }
    }
}

template<int Type>
void TransferAverager::average(uint32_t from, Block &values, Block &averaged)
{
    const uint32_t count = values.count;
    if constexpr (Type == None) {
        averaged = values;
    } else if constexpr (Type == Smoothing) {
        const float *magnitude[] = {values.magnitude};
        float *smoothedMagnitude[] = {averaged.magnitude};
        smooth(smoothMagnitude_, from, count, magnitude, smoothedMagnitude);
        const float *amplitude[] = {values.amplitude};
        float *smoothedAmplitude[] = {averaged.amplitude};
        smooth(smoothAmplitude_, from, count, amplitude, smoothedAmplitude);
        const float *phase[] = {values.phaseRe, values.phaseIm};
        float *smoothedPhase[] = {averaged.phaseRe, averaged.phaseIm};
        smooth(smoothPhase_, from, count, phase, smoothedPhase);
    } else {
        const double frames = double(cumulativeFrames_);
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t i = from + k;
            const float magnitude = values.magnitude[k] = finiteOrZero(values.magnitude[k]);
            const float amplitude = values.amplitude[k] = finiteOrZero(values.amplitude[k]);
            const Complex phase = finiteOrZero(Complex(values.phaseRe[k], values.phaseIm[k]));
            values.phaseRe[k] = phase.re;
            values.phaseIm[k] = phase.im;
            Complex out;
            if constexpr (Type == Moving) {
                averaged.magnitude[k] = movingMagnitude_.push(i, magnitude);
                averaged.amplitude[k] = movingAmplitude_.push(i, amplitude);
                out = movingPhase_.push(i, phase);
            } else {
                sumMagnitude_[i] += magnitude;
                sumAmplitude_[i] += amplitude;
                sumPhaseRe_[i] += phase.re;
                sumPhaseIm_[i] += phase.im;
                averaged.magnitude[k] = float(sumMagnitude_[i] / frames);
                averaged.amplitude[k] = float(sumAmplitude_[i] / frames);
                out = Complex(float(sumPhaseRe_[i] / frames), float(sumPhaseIm_[i] / frames));
            }
            averaged.phaseRe[k] = out.re;
            averaged.phaseIm[k] = out.im;
        }
    }
}

void TransferAverager::processImpulse(const Deconvolution &impulse, float msPerSample,
                                      ImpulsePoint *points)
{
    impulseLoop(impulse, msPerSample, points);
}

void TransferAverager::processImpulse(const PeriodAnalysis &period, float msPerSample,
                                      ImpulsePoint *points)
{
    impulseLoop(period, msPerSample, points);
}

void TransferAverager::smooth(Filter::BesselBank &bank, uint32_t from, uint32_t count,
                              const float *const *input, float *const *output)
{
    if (settleThisTick_)
        bank.settle(from, count, input);
    bank.process(from, count, input, output);
}

template<typename Impulse>
void TransferAverager::impulseLoop(const Impulse &impulse, float msPerSample, ImpulsePoint *points)
{
    if (type_ == Smoothing)
        smoothImpulse_.beginTick();
    float h[Block::capacity];
    float averaged[Block::capacity];
    for (uint32_t from = 0; from < size_; from += Block::capacity) {
        const uint32_t count = std::min(Block::capacity, size_ - from);
        for (uint32_t k = 0; k < count; ++k)
            h[k] = impulse.impulseAt(from + k);
        averageImpulse(from, count, h, averaged);
        placeImpulse(points, size_, from, count, averaged, msPerSample);
    }
    if (type_ == Moving)
        movingImpulse_.advance();
}

void TransferAverager::averageImpulse(uint32_t from, uint32_t count, const float *h,
                                      float *averaged)
{
    switch (type_) {
    case Smoothing: {
        const float *input[] = {h};
        float *output[] = {averaged};
        smooth(smoothImpulse_, from, count, input, output);
        break;
    }
    case Moving:
        for (uint32_t k = 0; k < count; ++k)
            averaged[k] = movingImpulse_.push(from + k, finiteOrZero(h[k]));
        break;
    case Cumulative:
        for (uint32_t k = 0; k < count; ++k) {
            sumImpulse_[from + k] += finiteOrZero(h[k]);
            averaged[k] = float(sumImpulse_[from + k] / double(cumulativeFrames_));
        }
        break;
    default:
        std::copy_n(h, count, averaged);
        break;
    }
}
