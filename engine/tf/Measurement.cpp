#include "engine/tf/Measurement.h"

#include "audio/AudioInput.h"
#include "audio/AudioStreamServer.h"
#include "common/Log.h"
#include "engine/CalCurve.h"
#include "engine/Weighting.h"
#include "engine/WindowFunction.h"
#include "engine/tf/Finite.h"
#include "engine/tf/generator/GeneratorThread.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

const char *const tag = "[Measurement]";

constexpr uint32_t fftSizes[Measurement::modeCount] = {1024, 2048, 4096, 8192, 16384, 32768, 65536};
constexpr uint64_t coherenceDepth = 21;

// The recording front end knows no loopback and no third channel: both read channel 0.
int frontEndChannel(int channel)
{
    return channel == 2 || channel == -1 ? 0 : channel;
}

bool differs(float a, float b)
{
    return std::abs(a - b) > 1e-6f;
}

std::size_t loopbackCapacity(uint32_t loopbackRate)
{
    return std::max<std::size_t>(std::size_t(loopbackRate) * 4, 65536);
}

bool hasPoints(const std::shared_ptr<CalCurve> &curve)
{
    return curve && !curve->isEmpty();
}

} // namespace

uint32_t Measurement::fftSizeForMode(int mode)
{
    return mode >= 0 && mode < modeCount ? fftSizes[mode] : 0;
}

Measurement::Measurement(QObject *parent)
    : QObject(parent)
    , dataRing_(size_, 0.0f)
    , referenceRing_(size_, 0.0f)
    , records_(bins_)
    , impulse_(size_)
    , transform_(size_)
    , impulseFinder_(size_)
    , delayFinder_(delayFinderSize)
    , inputMeter_(Weighting::Flat, Meter::Fast)
    , referenceMeter_(Weighting::Flat, Meter::Fast)
    , soundLevelMeter_(Weighting::A, Meter::Slow)
{
    const auto window = WindowFunction::Type(windowFunction_);
    transform_.setSampleRate(inputRate_);
    transform_.setWindowType(window);
    transform_.prepare();
    impulseFinder_.setWindowType(window);
    delayFinder_.setWindowType(window);

    averager_.setDepth(uint32_t(average_));
    averager_.resize(bins_, size_);
    coherence_.setDepth(coherenceDepth);
    coherence_.setSize(bins_);

    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->setSampleRate(inputRate_);
    loopback_.setCapacity(loopbackCapacity(loopbackRate_));

    timer_ = new QTimer(this);
    timer_->setInterval(analysisIntervalMs);
    connect(timer_, &QTimer::timeout, this, &Measurement::transform);

    writeBinFrequencies();
}

Measurement::~Measurement()
{
    timer_->stop();
    disconnect(loopbackConnection_);
    if (audioInput_) {
        audioInput_->setActive(false);
        delete audioInput_;
    }
    // A sample already on its way in on an audio thread arrives before the members go.
    inputs_.close();
    active_ = false;
}

// ---- properties -----------------------------------------------------------------------------

void Measurement::setPolarity(bool polarity)
{
    if (polarity == polarity_)
        return;
    polarity_ = polarity;
    emit polarityChanged(polarity);
}

void Measurement::setGain(float gain)
{
    if (!differs(gain, gain_))
        return;
    gain_ = gain;
    emit gainChanged(gain);
}

void Measurement::setOffset(float offset)
{
    if (!differs(offset, offset_))
        return;
    offset_ = offset;
    emit offsetChanged(offset);
}

void Measurement::setDataChannel(int channel)
{
    if (channel == dataChannel_)
        return;
    dataChannel_ = channel;
    if (audioInput_)
        audioInput_->setMeasurementChannel(frontEndChannel(channel));
    emit dataChannelChanged(channel);
}

void Measurement::setReferenceChannel(int channel)
{
    if (channel == referenceChannel_)
        return;
    referenceChannel_ = channel;
    if (audioInput_)
        audioInput_->setReferenceChannel(frontEndChannel(channel));
    emit referenceChannelChanged(channel);
}

void Measurement::setDelay(int samples)
{
    if (samples == delay_)
        return;
    delay_ = samples;
    emit delayChanged(samples);
}

void Measurement::setAverage(int depth)
{
    if (depth == average_)
        return;
    average_ = depth;
    averager_.setDepth(uint32_t(std::max(depth, 1)));
    emit averageChanged(depth);
}

void Measurement::setMode(int mode)
{
    if (mode == mode_)
        return;
    mode_ = mode;
    if (fftSizeForMode(mode) != 0)
        resizeForMode();
    emit modeChanged(mode);
}

void Measurement::setAverageType(int type)
{
    if (type == averageType_)
        return;
    averageType_ = type;
    averager_.clearCumulative();
    emit averageTypeChanged(type);
}

void Measurement::setWindowFunction(int type)
{
    if (type == windowFunction_)
        return;
    windowFunction_ = type;
    // Nothing here is shared with an audio thread: the tables and the plan are rebuilt without
    // holding anyone up.
    if (type >= int(WindowFunction::Rectangular) && type <= int(WindowFunction::Exponental)) {
        const auto window = WindowFunction::Type(type);
        transform_.setWindowType(window);
        impulseFinder_.setWindowType(window);
        delayFinder_.setWindowType(window);
        transform_.prepare();
    }
    emit windowFunctionChanged(type);
}

void Measurement::setFiltersFrequency(int preset)
{
    if (preset == filtersFrequency_)
        return;
    filtersFrequency_ = preset;
    averager_.setFilterPreset(preset);
    emit filtersFrequencyChanged(preset);
}

void Measurement::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    emit colorChanged(color);
}

// ---- wiring ---------------------------------------------------------------------------------

uint32_t Measurement::loopbackSampleRate() const
{
    return loopbackRate_;
}

void Measurement::setGenerator(GeneratorThread *generator)
{
    if (generator == generator_)
        return;
    if (generator_)
        disconnect(generator_, &GeneratorThread::sampleRateChanged, this,
                   &Measurement::setLoopbackSampleRate);
    disconnect(loopbackConnection_);
    generator_ = generator;
    if (!generator) {
        setLoopbackSampleRate(inputRate_);
        return;
    }
    setLoopbackSampleRate(generator->sampleRate());
    connect(generator, &GeneratorThread::sampleRateChanged, this,
            &Measurement::setLoopbackSampleRate, Qt::QueuedConnection);
    if (active_)
        connectLoopback();
}

void Measurement::connectLoopback()
{
    // Direct: the slot runs on the thread that reads the test signal, once per frame.
    loopbackConnection_ = connect(generator_, &GeneratorThread::sampleOut, this,
                                  &Measurement::writeLoopbackSample, Qt::DirectConnection);
}

void Measurement::setDeviceId(const QString &id)
{
    deviceId_ = id;
    if (audioInput_)
        audioInput_->setDeviceId(id);
}

void Measurement::setCalibrationCurve(std::shared_ptr<CalCurve> curve)
{
    micCurve_ = std::move(curve);
    if (!hasPoints(micCurve_)) {
        sntWarning(tag) << "Calibration curve is empty or null";
        refreshCalibrationGains();
        return;
    }
    sntInfo(tag) << "Calibration curve loaded:" << micCurve_->frequencies().size() << "points";
    buildCalibrationLut();
}

void Measurement::setReferenceCalibrationCurve(std::shared_ptr<CalCurve> curve)
{
    referenceCurve_ = std::move(curve);
    if (!hasPoints(referenceCurve_)) {
        refreshCalibrationGains();
        return;
    }
    sntInfo(tag) << "Reference calibration curve loaded:" << referenceCurve_->frequencies().size()
                 << "points";
    buildCalibrationLut();
}

void Measurement::setLoopbackSampleRate(uint sampleRate)
{
    if (sampleRate == 0 || sampleRate == loopbackRate_)
        return;
    sntInfo(tag) << "loopback sampleRate:" << loopbackRate_ << "->" << sampleRate << "(input"
                 << inputRate_ << ")";
    loopbackRate_ = sampleRate;
    // The queue holds four seconds at the new rate; resizing empties it and restarts the phase.
    loopback_.setCapacity(loopbackCapacity(sampleRate));
    inputs_.discardLoopback();
}

void Measurement::setSampleRate(uint sampleRate)
{
    if (sampleRate == 0 || sampleRate == inputRate_)
        return;
    sntInfo(tag) << "setSampleRate:" << inputRate_ << "->" << sampleRate;
    inputRate_ = sampleRate;
    clearLoopback();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->setSampleRate(sampleRate);
    transform_.setSampleRate(sampleRate);
    transform_.prepare();
    writeBinFrequencies();
    buildCalibrationLut();
}

// ---- run control ----------------------------------------------------------------------------

void Measurement::setActive(bool active)
{
    if (active == active_)
        return;
    if (active)
        activate();
    else
        deactivate();
}

void Measurement::activate()
{
    const bool phone = audio::AudioStreamServer::instance()->hasClient(deviceId_);
    phoneMode_ = phone;
    if (generator_)
        setLoopbackSampleRate(generator_->sampleRate());

    if (phone) {
        setSampleRate(generator_ ? generator_->sampleRate() : 48000);
        setBlockStatus(1);
    } else {
        setBlockStatus(0);
        clearLoopback();
    }
    // Whatever the last run left on its way in belongs to that run.
    inputs_.discardPairs();
    pairsSinceLoss_ = std::numeric_limits<uint32_t>::max();
    active_ = true;
    inputs_.open();
    if (!phone)
        openAudioInput();
    if (generator_)
        connectLoopback();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->reset();
    timer_->start();
}

void Measurement::openAudioInput()
{
    if (!audioInput_) {
        audioInput_ = new AudioInput(this);
        if (!deviceId_.isEmpty())
            audioInput_->setDeviceId(deviceId_);
        // Directly, on the capture thread: the blocks only drop into the input rings there.
        connect(audioInput_, &AudioInput::dataReady, this, &Measurement::writeData,
                Qt::DirectConnection);
        connect(audioInput_, &AudioInput::discontinuity, this, &Measurement::writeDiscontinuity,
                Qt::DirectConnection);
        connect(audioInput_, &AudioInput::sampleRateChanged, this, &Measurement::setSampleRate,
                Qt::QueuedConnection);
    }
    audioInput_->setMeasurementChannel(frontEndChannel(dataChannel_));
    audioInput_->setReferenceChannel(frontEndChannel(referenceChannel_));
    audioInput_->setActive(true);
    setSampleRate(audioInput_->sampleRate());
}

void Measurement::deactivate()
{
    timer_->stop();
    disconnect(loopbackConnection_);
    if (audioInput_)
        audioInput_->setActive(false);
    inputs_.close();
    phoneMode_ = false;
    active_ = false;
    setBlockStatus(0);
}

void Measurement::setBlockStatus(int status)
{
    if (status == blockStatus_)
        return;
    blockStatus_ = status;
    emit blockStatusChanged(status);
}

// ---- sizes and calibration ------------------------------------------------------------------

void Measurement::resizeForMode()
{
    size_ = fftSizeForMode(mode_);
    bins_ = size_ / 2;
    dataRing_.resize(size_, 0.0f);
    referenceRing_.resize(size_, 0.0f);
    // A shrunk ring would otherwise leave the write position outside it for good.
    writePosition_ %= size_;
    newSamples_ = 0;
    transform_.setSize(size_);
    transform_.setSampleRate(inputRate_);
    transform_.prepare();
    impulseFinder_.setSize(size_);
    delayPeak_ = 0;

    records_.resize(bins_);
    impulse_.resize(size_);
    averager_.resize(bins_, size_);
    coherence_.setSize(bins_);
    writeBinFrequencies();
    buildCalibrationLut();
}

void Measurement::writeBinFrequencies()
{
    const double binWidth = double(inputRate_) / double(size_);
    for (uint32_t i = 0; i < bins_; ++i)
        records_[i].frequency = float(i * binWidth);
}

void Measurement::buildCalibrationLut()
{
    if (bins_ > 0 && (hasPoints(micCurve_) || hasPoints(referenceCurve_))) {
        QList<float> frequencies;
        frequencies.reserve(bins_);
        for (const BinRecord &record : records_)
            frequencies.append(record.frequency);
        for (const auto &curve : {micCurve_, referenceCurve_})
            if (hasPoints(curve))
                curve->buildLut(frequencies);
        sntInfo(tag) << "Calibration LUT built for" << bins_ << "bins";
    }
    refreshCalibrationGains();
}

void Measurement::refreshCalibrationGains()
{
    const auto fill = [this](const std::shared_ptr<CalCurve> &curve, std::vector<float> &gains) {
        if (!hasPoints(curve)) {
            gains.clear();
            return;
        }
        gains.resize(bins_);
        for (uint32_t i = 0; i < bins_; ++i)
            gains[i] = curve->gainForBin(int(i));
    };
    fill(micCurve_, micGains_);
    fill(referenceCurve_, referenceGains_);
}

// ---- sample inputs --------------------------------------------------------------------------

void Measurement::writeData(const QList<float> &dataBuffer, const QList<float> &referenceBuffer)
{
    const qsizetype n = std::min(dataBuffer.size(), referenceBuffer.size());
    inputs_.writePairs(dataBuffer.constData(), referenceBuffer.constData(), std::size_t(n));
}

void Measurement::writeDiscontinuity(qint64 frames)
{
    inputs_.writeLoss(frames < 0 ? MeasurementInputs::unknownLoss : frames);
}

void Measurement::writeLoopbackSample(float sample)
{
    inputs_.writeLoopback(sample);
}

void Measurement::feedStreamSamples(const float *data, qlonglong count)
{
    if (!active_ || !phoneMode_ || !data || count < 1)
        return;
    for (qlonglong k = 0; k < count; ++k) {
        float v = gain_ * data[k];
        if (polarity_)
            v = -v;
        v = finiteOrZero(v);
        inputMeter_.add(v);
        soundLevelMeter_.add(v);
    }
}

void Measurement::drainInputs()
{
    if (!inputs_.takeLoopback([this](float sample) { takeLoopbackSample(sample); }))
        restartAfterLoss(MeasurementInputs::unknownLoss);
    inputs_.takePairs([this](const MeasurementInputs::Pair &pair) { takePair(pair); },
                      [this](int64_t frames) { restartAfterLoss(frames); });
    reportLosses();
}

void Measurement::takeLoopbackSample(float sample)
{
    const float x = finiteOrZero(offset_ * sample);
    if (phoneMode_)
        referenceMeter_.add(x);
    else
        loopback_.push(x);
}

void Measurement::takePair(const MeasurementInputs::Pair &pair)
{
    if (dataRing_.empty() || referenceRing_.empty() || size_ == 0 || writePosition_ >= size_)
        return;
    float d = gain_ * pair.data;
    if (polarity_)
        d = -d;
    d = finiteOrZero(d);
    const float r = referenceChannel_ == -1 ? nextLoopbackReference()
                                            : finiteOrZero(offset_ * pair.reference);
    dataRing_[writePosition_] = d;
    referenceRing_[writePosition_] = r;
    writePosition_ = (writePosition_ + 1) % size_;
    inputMeter_.add(d);
    soundLevelMeter_.add(d);
    referenceMeter_.add(r);
    delayFinder_.add(d, r);
    newSamples_ = std::min(newSamples_ + 1, size_);
    if (pairsSinceLoss_ < std::numeric_limits<uint32_t>::max())
        ++pairsSinceLoss_;
}

double Measurement::loopbackSamplesPerInputSample() const
{
    const uint32_t loopbackRate = loopbackRate_ ? loopbackRate_ : inputRate_;
    return double(loopbackRate) / double(inputRate_);
}

float Measurement::nextLoopbackReference()
{
    return inputRate_ == 0 ? 0.0f : loopback_.next(loopbackSamplesPerInputSample());
}

void Measurement::clearLoopback()
{
    loopback_.clear();
    inputs_.discardLoopback();
}

void Measurement::restartAfterLoss(int64_t frames)
{
    // The loopback ran on while the capture lost those frames: skipping as many keeps the
    // microphone where it was against its reference.
    if (frames > 0 && referenceChannel_ == -1 && inputRate_ > 0)
        loopback_.skip(double(frames) * loopbackSamplesPerInputSample());
    pairsSinceLoss_ = 0;
    averager_.reset();
    ++losses_.count;
    losses_.frames += std::max<int64_t>(frames, 0);
    losses_.unknown = losses_.unknown || frames < 0;
}

void Measurement::reportLosses()
{
    if (losses_.count == 0)
        return;
    QString lost = QStringLiteral("%1 frames lost").arg(losses_.frames);
    if (losses_.unknown)
        lost += losses_.frames > 0 ? QStringLiteral(" and more")
                                   : QStringLiteral(", how many unknown");
    sntWarning(tag) << "input dropout:" << losses_.count << "gap(s)," << lost
                    << "- the analysis skips the pairs around it until the transform is refilled"
                    << "and the averages start again";
    losses_ = LossReport();
}

// ---- analysis -------------------------------------------------------------------------------

void Measurement::transform()
{
    if (!active_)
        return;
    drainInputs();
    if (!phoneMode_)
        moveNewPairsToTransforms();
    transform_.calculate();
    analyseThisTick_ = averager_.readyFor(averageType_, size_) && pairsSinceLoss_ >= size_;
    if (analyseThisTick_)
        averager_.beginTick(averageType_);
    // The impulse response and the bins read the same spectra and share no other state: the
    // impulse half runs on the helper thread meanwhile.
    worker_.start(&Measurement::computeImpulse, this);
    if (analyseThisTick_)
        computeTransferFunction();
    worker_.wait();
    publishLevels();
    emit readyRead();
    emit levelChanged();
    emit referenceLevelChanged();
}

void Measurement::moveNewPairsToTransforms()
{
    const uint32_t k = std::min(size_, newSamples_);
    newSamples_ = 0;
    const uint32_t start = (writePosition_ + size_ - k) % size_;
    const int64_t n = size_;
    const int64_t shift = ((int64_t(start) - delay_) % n + n) % n;
    for (uint32_t j = 0; j < k; ++j) {
        const uint32_t idx = (start + j) % size_;
        const uint32_t ridx = uint32_t((shift + j) % n);
        transform_.add(dataRing_[idx], referenceRing_[ridx]);
        impulseFinder_.add(dataRing_[idx], referenceRing_[ridx]);
    }
    averager_.addFrames(k);
}

void Measurement::computeTransferFunction()
{
    const TransferAverager::Calibration calibration{
            micGains_.empty() ? nullptr : micGains_.data(),
            referenceGains_.empty() ? nullptr : referenceGains_.data()};
    averager_.processBins(averageType_, transform_, calibration, records_.data());
    coherence_.process(records_, transform_);
}

void Measurement::computeImpulse(void *context)
{
    auto *self = static_cast<Measurement *>(context);
    self->impulseFinder_.calculate(&self->transform_);
    if (self->analyseThisTick_)
        self->averager_.processImpulse(self->averageType_, self->impulseFinder_,
                                       1000.0f / float(self->inputRate_), self->impulse_.data());
}

void Measurement::publishLevels()
{
    level_ = float(inputMeter_.level());
    splLevel_ = float(soundLevelMeter_.level());
    referenceLevel_ = float(referenceMeter_.level());
    inputPeak_ = float(inputMeter_.peakDb());
    referencePeak_ = float(referenceMeter_.peakDb());
}

void Measurement::resetAverage()
{
    // Only this thread touches what is cleared here, so the audio threads go on writing. The
    // loopback queue stays: it holds the reference for pairs still on their way in, and
    // emptying it would shift the microphone against its reference.
    averager_.reset();
    std::fill(dataRing_.begin(), dataRing_.end(), 0.0f);
    std::fill(referenceRing_.begin(), referenceRing_.end(), 0.0f);
    writePosition_ = 0;
    newSamples_ = 0;
    pairsSinceLoss_ = std::numeric_limits<uint32_t>::max();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->reset();
}

void Measurement::updateEstimate()
{
    if (!phoneMode_) {
        // The delay finder is fed only from this thread, so its rings cannot change while it
        // transforms them and no audio thread ever waits for it.
        drainInputs();
        delayFinder_.calculate(nullptr);
        delayPeak_ = delayFinder_.peakIndex();
    }
    emit estimatedChanged(estimatedDelayMs());
}

float Measurement::estimatedDelayMs() const
{
    // A phone's samples never reach the delay finder through the live inputs.
    if (phoneMode_)
        return 0.0f;
    int64_t peak = delayPeak_;
    if (peak > int64_t(delayFinderSize / 2))
        peak -= delayFinderSize;
    return float(double(peak) * 1000.0 / double(inputRate_));
}
