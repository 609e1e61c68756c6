#include "engine/tf/Measurement.h"

#include "audio/AudioInput.h"
#include "common/Log.h"
#include "engine/dsp/CalCurve.h"
#include "engine/dsp/Weighting.h"
#include "engine/dsp/WindowFunction.h"
#include "engine/tf/Finite.h"
#include "engine/tf/PhoneServerSamples.h"
#include "engine/tf/generator/GeneratorThread.h"
#include "engine/tf/generator/PeriodicNoise.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char *const tag = "[Measurement]";
const char *const blockTag = "[TFBlock]";

constexpr uint32_t fftSizes[Measurement::modeCount] = {1024, 2048, 4096, 8192, 16384, 32768, 65536};
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

std::vector<float> periodicNoise(int length, uint32_t seed, double rms)
{
    const QList<double> period = makePeriodicNoise(length, seed, rms);
    return std::vector<float>(period.cbegin(), period.cend());
}

} // namespace

uint32_t Measurement::fftSizeForMode(int mode)
{
    return mode >= 0 && mode < modeCount ? fftSizes[mode] : 0;
}

Measurement::Measurement(std::shared_ptr<audio::Client> client, audio::AudioStreamServer *phones,
                         QObject *parent)
    : QObject(parent)
    , analyser_(fftSizeForMode(mode_), inputRate_)
    , inputMeter_(Weighting::Flat, Meter::Fast)
    , referenceMeter_(Weighting::Flat, Meter::Fast)
    , soundLevelMeter_(Weighting::A, Meter::Slow)
    , blockPath_(&periodicNoise)
    , sources_(std::make_unique<MeasurementSources>(this, std::move(client), phones))
{
    analyser_.setWindow(WindowFunction::Type(windowFunction_));
    analyser_.setAverageType(averageType_);
    analyser_.setAverageDepth(uint32_t(average_));

    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->setSampleRate(inputRate_);
    loopback_.setCapacity(loopbackCapacity(loopbackRate_));

    timer_ = new QTimer(this);
    timer_->setInterval(analysisIntervalMs);
    connect(timer_, &QTimer::timeout, this, &Measurement::transform);
}

Measurement::~Measurement()
{
    timer_->stop();
    sources_.reset();
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
    sources_->setChannels(dataChannel_, referenceChannel_);
    emit dataChannelChanged(channel);
}

void Measurement::setReferenceChannel(int channel)
{
    if (channel == referenceChannel_)
        return;
    referenceChannel_ = channel;
    sources_->setChannels(dataChannel_, referenceChannel_);
    emit referenceChannelChanged(channel);
}

void Measurement::setDelay(int samples)
{
    if (samples == delay_)
        return;
    delay_ = samples;
    analyser_.setDelay(samples);
    emit delayChanged(samples);
}

void Measurement::setAverage(int depth)
{
    if (depth == average_)
        return;
    average_ = depth;
    analyser_.setAverageDepth(uint32_t(std::max(depth, 1)));
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
    analyser_.setAverageType(type);
    emit averageTypeChanged(type);
}

void Measurement::setWindowFunction(int type)
{
    if (type == windowFunction_)
        return;
    windowFunction_ = type;
    // Nothing here is shared with an audio thread: the tables and the plan are rebuilt without
    // holding anyone up.
    if (type >= int(WindowFunction::Rectangular) && type <= int(WindowFunction::Exponental))
        analyser_.setWindow(WindowFunction::Type(type));
    emit windowFunctionChanged(type);
}

void Measurement::setFiltersFrequency(int preset)
{
    if (preset == filtersFrequency_)
        return;
    filtersFrequency_ = preset;
    analyser_.setFilterPreset(preset);
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

AudioInput *Measurement::audioInput() const
{
    return sources_->audioInput();
}

void Measurement::setGenerator(GeneratorThread *generator)
{
    if (generator == sources_->generator())
        return;
    sources_->setGenerator(generator);
    if (!generator) {
        setLoopbackSampleRate(inputRate_);
        return;
    }
    setLoopbackSampleRate(generator->sampleRate());
    if (active_)
        sources_->connectLoopback();
}

void Measurement::setDeviceId(const QString &id)
{
    deviceId_ = id;
    sources_->setDeviceId(id);
}

void Measurement::setCalibrationCurve(std::shared_ptr<CalCurve> curve)
{
    micCurve_ = std::move(curve);
    if (!hasPoints(micCurve_)) {
        sntWarning(lcMeasurement, tag) << "Calibration curve is empty or null";
        analyser_.setCalibration(micCurve_, referenceCurve_);
        return;
    }
    sntInfo(lcMeasurement, tag) << "Calibration curve loaded:" << micCurve_->frequencies().size()
                                << "points";
    buildCalibrationLut();
}

void Measurement::setReferenceCalibrationCurve(std::shared_ptr<CalCurve> curve)
{
    referenceCurve_ = std::move(curve);
    if (!hasPoints(referenceCurve_)) {
        analyser_.setCalibration(micCurve_, referenceCurve_);
        return;
    }
    sntInfo(lcMeasurement, tag) << "Reference calibration curve loaded:"
                                << referenceCurve_->frequencies().size() << "points";
    buildCalibrationLut();
}

void Measurement::setLoopbackSampleRate(uint sampleRate)
{
    if (sampleRate == 0 || sampleRate == loopbackRate_)
        return;
    sntInfo(lcMeasurement, tag) << "loopback sampleRate:" << loopbackRate_ << "->" << sampleRate
                                << "(input" << inputRate_ << ")";
    loopbackRate_ = sampleRate;
    // The queue holds four seconds at the new rate; resizing empties it and restarts the phase.
    loopback_.setCapacity(loopbackCapacity(sampleRate));
    inputs_.discardLoopback();
}

void Measurement::setSampleRate(uint sampleRate)
{
    if (sampleRate == 0 || sampleRate == inputRate_)
        return;
    sntInfo(lcMeasurement, tag) << "setSampleRate:" << inputRate_ << "->" << sampleRate;
    inputRate_ = sampleRate;
    clearLoopback();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->setSampleRate(sampleRate);
    analyser_.setSampleRate(sampleRate);
    logCalibrationTable();
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
    GeneratorThread *generator = sources_->generator();
    const bool phone = sources_->isPhone(deviceId_);
    phoneMode_ = phone;
    if (generator)
        setLoopbackSampleRate(generator->sampleRate());

    if (phone) {
        setSampleRate(generator ? generator->sampleRate() : 48000);
        blockPath_.reset();
        firstLoopbackMs_ = -1;
        periodMeasured_ = false;
        setBlockStatus(int(blockPath_.status()));
    } else {
        setBlockStatus(0);
        clearLoopback();
    }
    // Whatever the last run left on its way in belongs to that run.
    inputs_.discardPairs();
    analyser_.forgetLosses();
    pairing_.restart(inputs_.pairsTaken());
    pairsSinceMove_ = 0;
    active_ = true;
    inputs_.open();
    if (!phone)
        setSampleRate(sources_->openAudioInput(deviceId_, dataChannel_, referenceChannel_));
    sources_->connectLoopback();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->reset();
    timer_->start();
}

void Measurement::deactivate()
{
    timer_->stop();
    if (!phoneMode_ && referenceChannel_ == -1)
        pairing_.reportWander();
    sources_->disconnectLoopback();
    sources_->closeAudioInput();
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
    analyser_.setSize(fftSizeForMode(mode_));
    logCalibrationTable();
}

void Measurement::buildCalibrationLut()
{
    analyser_.setCalibration(micCurve_, referenceCurve_);
    logCalibrationTable();
}

void Measurement::logCalibrationTable() const
{
    if (analyser_.bins() > 0 && (hasPoints(micCurve_) || hasPoints(referenceCurve_)))
        sntInfo(lcMeasurement, tag) << "Calibration LUT built for" << analyser_.bins() << "bins";
}

// ---- sample inputs --------------------------------------------------------------------------

void Measurement::captured(std::span<const float> data, std::span<const float> reference)
{
    inputs_.writePairs(data.data(), reference.data(), std::min(data.size(), reference.size()));
}

void Measurement::captureLost(qint64 frames)
{
    inputs_.writeLoss(frames < 0 ? MeasurementInputs::unknownLoss : frames);
}

void Measurement::loopedBack(std::span<const float> samples)
{
    // The phone path compares the phone's clock against when the generator began; one clock
    // read per run, nothing that could wait.
    if (firstLoopbackMs_.load(std::memory_order_relaxed) < 0) {
        int64_t unset = -1;
        firstLoopbackMs_.compare_exchange_strong(unset, QDateTime::currentMSecsSinceEpoch());
    }
    inputs_.writeLoopback(samples.data(), samples.size());
}

void Measurement::writeData(const QList<float> &dataBuffer, const QList<float> &referenceBuffer)
{
    captured({dataBuffer.constData(), std::size_t(dataBuffer.size())},
             {referenceBuffer.constData(), std::size_t(referenceBuffer.size())});
}

void Measurement::writeLoopbackSample(float sample)
{
    loopedBack({&sample, 1});
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
    // Only the pairs written before the looped-back samples are taken: a sound is handed to the
    // output before it is recorded, so their reference samples are surely among those taken. A
    // pair written while this thread takes them may need a sample that comes after; it would
    // meet an empty queue, and every later pair a reference one sample late per such pair.
    const uint64_t pairsBeforeLoopback = inputs_.pairsWritten();
    if (!inputs_.takeLoopback([this](float sample) { takeLoopbackSample(sample); }))
        restartAfterLoss(MeasurementInputs::unknownLoss);
    alignLoopback();
    inputs_.takePairs([this](const MeasurementInputs::Pair &pair) { takePair(pair); },
                      [this](int64_t frames) { restartAfterLoss(frames); }, pairsBeforeLoopback);
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
    float d = gain_ * pair.data;
    if (polarity_)
        d = -d;
    d = finiteOrZero(d);
    const float r = referenceChannel_ == -1 ? nextLoopbackReference()
                                            : finiteOrZero(offset_ * pair.reference);
    analyser_.push(d, r);
    ++pairsSinceMove_;
    inputMeter_.add(d);
    soundLevelMeter_.add(d);
    referenceMeter_.add(r);
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

void Measurement::alignLoopback()
{
    if (phoneMode_ || referenceChannel_ != -1 || inputRate_ == 0)
        return;
    const LoopbackPairing::Rates rates{double(inputRate_),
                                       double(inputRate_) * loopbackSamplesPerInputSample()};
    LoopbackPairing::Counts counts;
    counts.nextPair = inputs_.pairsTaken();
    // The loopback sample the next pair would meet now.
    counts.pairedPosition
            = double(inputs_.loopbackTaken()) - double(loopback_.size()) + loopback_.phase();
    counts.pairsIn = inputs_.pairsWritten();
    counts.loopbackIn = inputs_.loopbackWritten();
    const std::optional<double> move
            = pairing_.step(inputs_.captureAnchor(), inputs_.loopbackAnchor(), counts, rates,
                            heardLag(counts.nextPair, rates.input));
    if (!move)
        return;
    loopback_.shift(*move);
    // What was averaged before belongs to the old pairing.
    analyser_.restartAfterLoss();
    pairsSinceMove_ = 0;
}

std::optional<double> Measurement::heardLag(uint64_t nextPair, double inputRate)
{
    // Once a second, over pairs that all came after the last move or gap; before the first
    // pairing too, where it tells where the sound will stand once the pairing moves.
    if (!pairing_.secondComplete(nextPair, inputRate) || pairsSinceMove_ < delayFinderSize)
        return std::nullopt;
    const std::optional<int64_t> lag = analyser_.heardLag();
    return lag ? std::optional(double(*lag) / inputRate) : std::nullopt;
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
    analyser_.restartAfterLoss();
    pairing_.inputLost(frames, inputs_.pairsTaken(), double(inputRate_));
    pairsSinceMove_ = 0;
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
    sntWarning(lcMeasurement, tag)
            << "input dropout:" << losses_.count << "gap(s)," << lost
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
    if (phoneMode_)
        stepPhoneBlocks();
    else
        analyser_.analyse();
    publishLevels();
    emit readyRead();
    emit levelChanged();
    emit referenceLevelChanged();
}

void Measurement::stepPhoneBlocks()
{
    const PhoneServerSamples phone(*sources_->phones(), deviceId_);
    const PhoneBlockPath::Settings settings{offset_, gain_, polarity_, analyser_.size()};
    const PhoneBlockPath::Step step
            = blockPath_.step(phone, generatorState(), settings, firstLoopbackMs_);
    setSampleRate(step.generatorRate);
    for (const PhoneBlockPath::LogLine &line : step.log) {
        const QString text = QString::fromStdString(line.text);
        if (line.warning)
            sntWarning(lcMeasurement, blockTag) << deviceId_ << text;
        else
            sntInfo(lcMeasurement, blockTag) << deviceId_ << text;
    }
    if (step.measuredSamples > 0) {
        analyser_.addPeriodPairs(uint64_t(step.measuredSamples));
        periodMeasured_ = true;
    }
    // Until the next block the last one stands in for the transform's block, tick after tick.
    if (periodMeasured_)
        analyser_.analysePeriod(blockPath_.analysis());
    setBlockStatus(int(blockPath_.status()));
    if (step.runCompleted)
        emit blockRunCompleted();
    if (step.delayChanged)
        emit estimatedChanged(blockPath_.delayMs());
}

PhoneBlockPath::Generator Measurement::generatorState() const
{
    const GeneratorThread *generator = sources_->generator();
    if (!generator)
        return {};
    return {generator->enabled(),
            generator->type(),
            generator->sampleRate(),
            float(generator->startFrequency()),
            float(generator->endFrequency()),
            generator->duration(),
            generator->gain()};
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
    analyser_.resetAverage();
    for (Meter *meter : {&inputMeter_, &referenceMeter_, &soundLevelMeter_})
        meter->reset();
}

void Measurement::updateEstimate()
{
    if (!phoneMode_) {
        // The delay finder is fed only from this thread, so its rings cannot change while it
        // transforms them and no audio thread ever waits for it.
        drainInputs();
        analyser_.estimateDelay();
    }
    emit estimatedChanged(estimatedDelayMs());
}

float Measurement::estimatedDelayMs() const
{
    // A phone's samples never reach the delay finder through the live inputs: its delay is the
    // residual one of the blocks, which the alignment left.
    if (phoneMode_)
        return blockPath_.delayMs();
    return float(double(analyser_.delayPairs()) * 1000.0 / double(inputRate_));
}
