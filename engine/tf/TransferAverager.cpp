#include "engine/tf/TransferAverager.h"

#include "engine/dsp/Deconvolution.h"
#include "engine/dsp/FourierTransform.h"
#include "engine/tf/Finite.h"
#include "engine/tf/PeriodAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Length of the per-bin meters' windows, in ticks.
constexpr quint64 binMeterWindow = 100;

template<typename Filters>
void recreate(Filters &filters, uint32_t count)
{
    if (filters.size() != count)
        filters = Filters(count);
}

template<typename Filters>
void applyPreset(Filters &filters, int preset)
{
    for (auto &filter : filters)
        filter.setPreset(preset);
}

template<typename Filters>
void clearHistories(Filters &filters)
{
    for (auto &filter : filters)
        filter.clear();
}

} // namespace

void TransferAverager::resize(uint32_t bins, uint32_t size)
{
    bins_ = bins;
    size_ = size;
    movingMagnitude_.resize(depth_, bins);
    movingAmplitude_.resize(depth_, bins);
    movingPhase_.resize(depth_, bins);
    movingImpulse_.resize(depth_, size);
    for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_})
        sums->assign(bins, 0.0);
    sumImpulse_.assign(size, 0.0);
    cumulativeFrames_ = 0;
    framesSinceReset_ = 0;

    // Recreated filters start from preset 0 with empty histories.
    recreate(smoothMagnitude_, bins);
    recreate(smoothAmplitude_, bins);
    recreate(smoothPhase_, bins);
    recreate(smoothImpulse_, size);
    if (binMeters_.size() != bins) {
        binMeters_.clear();
        binMeters_.reserve(bins);
        for (uint32_t i = 0; i < bins; ++i)
            binMeters_.emplace_back(binMeterWindow);
    }
}

void TransferAverager::setDepth(uint32_t depth)
{
    depth_ = std::max<uint32_t>(depth, 1);
    movingMagnitude_.resize(depth_, bins_);
    movingAmplitude_.resize(depth_, bins_);
    movingPhase_.resize(depth_, bins_);
    movingImpulse_.resize(depth_, size_);
}

void TransferAverager::setFilterPreset(int preset)
{
    applyPreset(smoothMagnitude_, preset);
    applyPreset(smoothAmplitude_, preset);
    applyPreset(smoothPhase_, preset);
    applyPreset(smoothImpulse_, preset);
}

void TransferAverager::clearCumulative()
{
    for (auto *sums : {&sumMagnitude_, &sumAmplitude_, &sumPhaseRe_, &sumPhaseIm_, &sumImpulse_})
        std::fill(sums->begin(), sums->end(), 0.0);
    cumulativeFrames_ = 0;
    framesSinceReset_ = 0;
}

void TransferAverager::reset()
{
    movingMagnitude_.clear();
    movingAmplitude_.clear();
    movingPhase_.clear();
    movingImpulse_.clear();
    clearCumulative();
    clearHistories(smoothMagnitude_);
    clearHistories(smoothAmplitude_);
    clearHistories(smoothPhase_);
    clearHistories(smoothImpulse_);
    for (auto &meter : binMeters_)
        meter.reset();
}

void TransferAverager::beginTick(int averageType)
{
    if (averageType == Cumulative)
        ++cumulativeFrames_;
}

void TransferAverager::processBins(int averageType, const FourierTransform &transform,
                                   const Calibration &calibration, BinRecord *records)
{
    processValues(averageType, calibration, records, [&transform](uint32_t i) {
        const Complex d = transform.dataBin(i);
        const Complex r = transform.referenceBin(i);
        BinValue value;
        value.amplitude = float(double(d.abs()) * std::numbers::sqrt2);
        const float referenceAmplitude = float(double(r.abs()) * std::numbers::sqrt2);
        value.phase = Complex::phaseDifference(r, d);
        value.magnitude = value.amplitude / referenceAmplitude;
        return value;
    });
}

void TransferAverager::processPeriod(int averageType, const std::vector<PeriodBin> &period,
                                     const Calibration &calibration, BinRecord *records)
{
    processValues(averageType, calibration, records, [&period](uint32_t i) {
        const std::complex<float> h = period[i].transfer();
        const Complex transfer(h.real(), h.imag());
        return BinValue{transfer.abs(), period[i].amplitude(),
                        Complex::phaseDifference(transfer, Complex(1.0f))};
    });
}

template<typename Values>
void TransferAverager::processValues(int averageType, const Calibration &calibration,
                                     BinRecord *records, Values values)
{
    switch (averageType) {
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
    for (uint32_t i = 0; i < bins_; ++i) {
        BinValue value = values(i);
        float ratio = value.magnitude;
        if (!std::isfinite(ratio))
            ratio = 0.0f;
        if (calibration.microphone)
            ratio = ratio / calibration.microphone[i];
        if (calibration.reference)
            ratio = calibration.reference[i] * ratio;
        value.magnitude = ratio;

        const BinValue out = average<Type>(i, value);
        BinRecord &record = records[i];
        record.magnitude = out.magnitude;
        record.amplitude = out.amplitude;
        record.phaseRe = out.phase.re;
        record.phaseIm = out.phase.im;

        // `value` holds the amplitude as cleaned by the moving and cumulative averages.
        Meter &meter = binMeters_[i];
        meter.add(value.amplitude);
        record.peak = float(meter.peak());
        record.mean = float(meter.mean());
    }
}

template<int Type>
TransferAverager::BinValue TransferAverager::average(uint32_t i, BinValue &value)
{
    if constexpr (Type == None) {
        return value;
    } else if constexpr (Type == Smoothing) {
        return {smoothMagnitude_[i].process(value.magnitude),
                smoothAmplitude_[i].process(value.amplitude), smoothPhase_[i].process(value.phase)};
    } else {
        value.magnitude = finiteOrZero(value.magnitude);
        value.amplitude = finiteOrZero(value.amplitude);
        value.phase = finiteOrZero(value.phase);
        if constexpr (Type == Moving) {
            return {movingMagnitude_.push(i, value.magnitude),
                    movingAmplitude_.push(i, value.amplitude), movingPhase_.push(i, value.phase)};
        } else {
            sumMagnitude_[i] += value.magnitude;
            sumAmplitude_[i] += value.amplitude;
            sumPhaseRe_[i] += value.phase.re;
            sumPhaseIm_[i] += value.phase.im;
            const double frames = double(cumulativeFrames_);
            return {float(sumMagnitude_[i] / frames), float(sumAmplitude_[i] / frames),
                    Complex(float(sumPhaseRe_[i] / frames), float(sumPhaseIm_[i] / frames))};
        }
    }
}

void TransferAverager::processImpulse(int averageType, const Deconvolution &impulse,
                                      float msPerSample, ImpulsePoint *points)
{
    impulseLoop(averageType, impulse, msPerSample, points);
}

void TransferAverager::processImpulse(int averageType, const PeriodAnalysis &period,
                                      float msPerSample, ImpulsePoint *points)
{
    impulseLoop(averageType, period, msPerSample, points);
}

template<typename Impulse>
void TransferAverager::impulseLoop(int averageType, const Impulse &impulse, float msPerSample,
                                   ImpulsePoint *points)
{
    const auto run = [&](auto averageOf) {
        const uint32_t half = size_ / 2;
        for (uint32_t i = 0; i < size_; ++i) {
            const int64_t lag = i <= half ? int64_t(i) : int64_t(i) - int64_t(size_);
            ImpulsePoint &point = points[(i + half - 1) % size_];
            point.timeMs = float(lag) * msPerSample;
            point.value = Complex(averageOf(i, impulse.impulseAt(i)));
        }
    };
    switch (averageType) {
    case None:
        run([](uint32_t, float h) { return h; });
        break;
    case Smoothing:
        run([this](uint32_t i, float h) { return smoothImpulse_[i].process(h); });
        break;
    case Moving:
        run([this](uint32_t i, float h) { return movingImpulse_.push(i, finiteOrZero(h)); });
        movingImpulse_.advance();
        break;
    case Cumulative:
        run([this](uint32_t i, float h) {
            sumImpulse_[i] += finiteOrZero(h);
            return float(sumImpulse_[i] / double(cumulativeFrames_));
        });
        break;
    default:
        break;
    }
}
