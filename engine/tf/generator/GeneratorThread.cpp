#include "engine/tf/generator/GeneratorThread.h"

#include "audio/NetworkSink.h"
#include "audio/Stream.h"
#include "audio/StreamWatch.h"
#include "common/Log.h"
#include "common/ThreadPriority.h"
#include "engine/tf/generator/AudioFilePlayer.h"
#include "engine/tf/generator/OutputDevice.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "engine/tf/generator/PinkNoise.h"
#include "engine/tf/generator/SinSweep.h"
#include "engine/tf/generator/WhiteNoise.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char *const tag = "[Generator]";
constexpr int audioFileType = 3;
constexpr int joinTimeoutMs = 5000;

// The network output: 8 channels at 48 kHz, read 480 frames (10 ms) ahead of the clock, at
// most 4800 frames (100 ms) per 5 ms tick.
constexpr int networkChannels = 8;
constexpr uint networkRate = 48000;
constexpr int pullIntervalMs = 5;
constexpr qint64 framesPerMs = 48;
constexpr qint64 framesAhead = 480;
constexpr qint64 maxFramesPerPull = 4800;
constexpr qsizetype networkBufferFloats = maxFramesPerPull * networkChannels;

bool isNetworkOutput(const QString &deviceId)
{
    return deviceId == QLatin1String(audio::networkOutputDeviceId);
}

// Qt's relative comparison: equal when the difference is below a hundred-thousandth of the
// smaller magnitude.
bool fuzzyEqual(float a, float b)
{
    return std::abs(a - b) * 100000.f <= std::min(std::abs(a), std::abs(b));
}

} // namespace

GeneratorThread::GeneratorThread(std::shared_ptr<audio::Client> client,
                                 audio::NetworkSink *networkSink, QObject *parent)
    : QThread(parent)
    , client_(std::move(client))
    , networkSink_(networkSink)
    , deviceId_(client_->defaultDevice(audio::Plugin::Output))
{ }

GeneratorThread::~GeneratorThread()
{
    quit();
    if (!wait(joinTimeoutMs)) {
        // finish() still uses the sources and the stream: the members must outlive it.
        sntWarning(lcGenerator, tag)
                << "generator thread did not end within" << joinTimeoutMs << "ms; waiting for it";
        wait();
    }
}

void GeneratorThread::run()
{
    init();
    exec();
    finish();
}

// ---- generator thread ----

void GeneratorThread::init()
{
    auto *pink = new PinkNoise(this);
    sources_.append(pink);
    auto *white = new WhiteNoise(this);
    sources_.append(white);

    auto *sweep = new SinSweep(this);
    sources_.append(sweep);
    connect(this, &GeneratorThread::frequencyChanged, sweep, &SinSweep::setFrequency);
    connect(this, &GeneratorThread::startFrequencyChanged, sweep, &SinSweep::setStart);
    connect(this, &GeneratorThread::endFrequencyChanged, sweep, &SinSweep::setEnd);
    connect(this, &GeneratorThread::durationChanged, sweep, &SinSweep::setDuration);
    connect(this, &GeneratorThread::enabledChanged, sweep, &SinSweep::enabledChanged);
    sweep->setFrequency(frequency_);
    sweep->setStart(startFrequency_);
    sweep->setEnd(endFrequency_);
    sweep->setDuration(duration_);

    auto *file = new AudioFilePlayer(this);
    sources_.append(file);
    connect(file, &AudioFilePlayer::fileLoaded, this, &GeneratorThread::audioFileLoaded);

    auto *periodic = new PeriodicNoise(this);
    sources_.append(periodic);
    connect(this, &GeneratorThread::enabledChanged, periodic, &PeriodicNoise::enabledChanged);

    pullTimer_ = new QTimer;
    pullTimer_->setInterval(pullIntervalMs);
    pullTimer_->setTimerType(Qt::PreciseTimer);
    connect(
            pullTimer_, &QTimer::timeout, pullTimer_, [this] { pullNetworkFrames(); },
            Qt::DirectConnection);

    for (OutputDevice *source : std::as_const(sources_)) {
        source->setFadeDuration(fadeDuration_);
        connect(source, &OutputDevice::sampleError, this, &GeneratorThread::deviceError);
        if (networkSink_)
            connect(
                    source, &OutputDevice::blockOut, source,
                    [sink = networkSink_](const float *data, qlonglong frames, int channels,
                                          int sampleRate) {
                        sink->push(data, frames, channels, sampleRate);
                    },
                    Qt::DirectConnection);
    }

    // Hand the sources over to the thread that configures them.
    QMetaObject::invokeMethod(this, &GeneratorThread::onSourcesReady, Qt::QueuedConnection);
}

void GeneratorThread::finish()
{
    if (enabled_) {
        enabled_ = false;
        restartOutput();
        emit enabledChanged(false);
    }
    if (pullTimer_) {
        pullTimer_->stop();
        delete pullTimer_;
        pullTimer_ = nullptr;
    }
    closeStream();
    {
        QMutexLocker lock(&networkLock_);
        networkOpen_ = false;
        networkSource_ = nullptr;
    }
    for (OutputDevice *source : std::as_const(sources_)) {
        source->close();
        delete source;
    }
    sources_.clear();
}

void GeneratorThread::startPacing()
{
    {
        QMutexLocker lock(&networkLock_);
        if (networkBuffer_.size() < networkBufferFloats)
            networkBuffer_.resize(networkBufferFloats);
        framesSent_ = 0;
        pullClock_.restart();
    }
    // The sender sends on its deadlines, at a real-time priority, what this thread rendered
    // 10 ms ahead of them: at an ordinary priority a busy machine kept this thread away for
    // longer, and the stream carried silence.
    realtime::raiseToAudioPriority(pthread_self());
    pullTimer_->start();
}

void GeneratorThread::stopPacing()
{
    pullTimer_->stop();
    realtime::returnToOrdinaryPriority();
}

qint64 GeneratorThread::networkFramesDue(qint64 elapsedMs, qint64 framesSent)
{
    return std::clamp(elapsedMs * framesPerMs - framesSent + framesAhead, qint64(0),
                      maxFramesPerPull);
}

void GeneratorThread::pullNetworkFrames()
{
    if (!enabled_)
        return;
    QMutexLocker lock(&networkLock_);
    if (!networkOpen_ || !networkSource_)
        return;
    const qint64 due = networkFramesDue(pullClock_.elapsed(), framesSent_);
    if (due < 1)
        return;
    const qint64 frameBytes = networkChannels * qint64(sizeof(float));
    const qint64 bytes = networkSource_->read(reinterpret_cast<char *>(networkBuffer_.data()),
                                              due * frameBytes);
    if (bytes < 1)
        return;
    framesSent_ += bytes / frameBytes;
}

// ---- GUI thread ----

void GeneratorThread::onSourcesReady()
{
    sourcesReady_ = true;
    emit typesChanged();
    // A fade length set while the sources were being built may have missed them.
    for (OutputDevice *source : std::as_const(sources_))
        source->setFadeDuration(fadeDuration_);
    if (!pendingAudioFile_.isEmpty())
        loadAudioFile(std::exchange(pendingAudioFile_, QString()));
    if (enabled_)
        restartOutput();
}

OutputDevice *GeneratorThread::currentSource() const
{
    const int t = type_;
    if (!hasSources() || t < 0 || t >= sources_.size())
        return nullptr;
    return sources_[t];
}

void GeneratorThread::restartOutput()
{
    // Until the GUI thread has been handed the sources nothing can be open, and the timer may
    // still be in the making.
    const bool onOwnThread = QThread::currentThread() == this;
    if (!onOwnThread && !hasSources())
        return;
    if (pullTimer_) {
        if (onOwnThread)
            stopPacing();
        else
            QMetaObject::invokeMethod(
                    pullTimer_, [this] { stopPacing(); }, Qt::QueuedConnection);
    }
    {
        QMutexLocker lock(&networkLock_);
        if (networkOpen_) {
            for (OutputDevice *source : std::as_const(sources_))
                source->close();
            networkOpen_ = false;
            networkSource_ = nullptr;
        }
    }
    closeStream();

    OutputDevice *source = currentSource();
    if (!enabled_ || !source)
        return;
    source->resetFadeIn();
    source->setGain(gain_);
    if (isNetworkOutput(deviceId_))
        openNetworkOutput(source);
    else
        openDeviceOutput(source);
}

void GeneratorThread::openNetworkOutput(OutputDevice *source)
{
    source->setChanelCount(networkChannels);
    source->setSamplerate(int(networkRate));
    storeSampleRate(networkRate);
    {
        QMutexLocker lock(&networkLock_);
        if (!source->isOpen())
            source->open(QIODevice::ReadOnly);
        networkOpen_ = true;
        networkSource_ = source;
    }
    if (!pullTimer_)
        return;
    if (QThread::currentThread() == this)
        startPacing();
    else
        QMetaObject::invokeMethod(
                pullTimer_, [this] { startPacing(); }, Qt::QueuedConnection);
}

void GeneratorThread::openDeviceOutput(OutputDevice *source)
{
    const audio::Format format = client_->preferredOutputFormat(deviceId_);
    if (format.sampleRate != 0)
        storeSampleRate(format.sampleRate);
    source->setChanelCount(int(format.channelCount));
    source->setSamplerate(int(format.sampleRate));
    stream_ = client_->openOutput(deviceId_, source, format);
    if (!stream_) {
        sntWarning(lcGenerator, tag)
                << "the output" << deviceId_ << client_->deviceName(deviceId_) << "did not open";
        emit deviceError();
        emit outputNotOpened(deviceId_);
        return;
    }
    const uint actualRate = stream_->format().sampleRate;
    source->setSamplerate(int(actualRate));
    if (actualRate != 0)
        storeSampleRate(actualRate);
    audio::Stream *stream = stream_;
    connect(stream, &audio::Stream::sampleRateChanged, this,
            [this, stream] { onStreamRateChanged(stream); });
    // An output that takes nothing (a device that stopped, a sound server that stalls) plays
    // no signal: it is named instead of leaving the measurement waiting.
    watch_ = new audio::StreamWatch(*stream, this);
    connect(watch_, &audio::StreamWatch::stalled, this, [this, id = deviceId_] {
        sntWarning(lcGenerator, tag)
                << "the output" << id << client_->deviceName(id) << "took no frames for"
                << audio::StreamWatch::silenceLimit.count() << "ms";
        emit outputStalled(id);
    });
}

void GeneratorThread::closeStream()
{
    if (watch_) {
        // Possibly from the generator thread while ending: the watch goes in its own thread.
        watch_->disconnect(this);
        watch_->deleteLater();
        watch_ = nullptr;
    }
    if (stream_) {
        stream_->close();
        stream_ = nullptr;
    }
}

void GeneratorThread::onStreamRateChanged(audio::Stream *stream)
{
    // A queued notice of a stream closed meanwhile: that stream may already be gone.
    if (stream != stream_ || !stream_)
        return;
    const uint rate = stream_->format().sampleRate;
    for (OutputDevice *source : std::as_const(sources_))
        source->setSamplerate(int(rate));
    if (rate != 0)
        storeSampleRate(rate);
}

void GeneratorThread::storeSampleRate(uint rate)
{
    if (sampleRate_.exchange(rate) != rate)
        emit sampleRateChanged(rate);
}

bool GeneratorThread::enabled() const
{
    return enabled_;
}

void GeneratorThread::setEnabled(bool enable)
{
    if (enable == enabled_)
        return;
    enabled_ = enable;
    restartOutput();
    emit enabledChanged(enable);
    // The channels are set by a queued call (setChannels), often right before the output is
    // switched on: whether they are missing is asked after the calls queued so far.
    if (enable)
        QMetaObject::invokeMethod(this, &GeneratorThread::warnWithoutChannels,
                                  Qt::QueuedConnection);
}

void GeneratorThread::warnWithoutChannels()
{
    if (enabled_ && channels().isEmpty())
        sntWarning(lcGenerator, tag) << "Output channels are not set";
}

int GeneratorThread::type() const
{
    return type_;
}

void GeneratorThread::setType(int type)
{
    if (!hasSources()) {
        type_ = type;
        emit typeChanged(type);
        return;
    }
    if (type < 0 || type >= sources_.size()) {
        sntWarning(lcGenerator, tag) << "type out of range";
        return;
    }
    if (type == type_)
        return;
    type_ = type;
    restartOutput();
    emit typeChanged(type);
}

audio::DeviceInfo::Id GeneratorThread::deviceId() const
{
    return deviceId_;
}

void GeneratorThread::setDeviceId(audio::DeviceInfo::Id deviceId)
{
    if (!isNetworkOutput(deviceId) && !client_->hasDevice(deviceId)) {
        sntWarning(lcGenerator, tag) << QStringLiteral("audio device not present ") + deviceId;
        return;
    }
    if (deviceId == deviceId_)
        return;
    deviceId_ = deviceId;
    restartOutput();
    emit deviceIdChanged(deviceId);
}

QVariant GeneratorThread::getAvailableTypes() const
{
    QStringList names;
    if (hasSources())
        for (const OutputDevice *source : sources_)
            names.append(source->name());
    return names;
}

int GeneratorThread::frequency() const
{
    return frequency_;
}

void GeneratorThread::setFrequency(int frequency)
{
    if (frequency_.exchange(frequency) != frequency)
        emit frequencyChanged(frequency);
}

int GeneratorThread::startFrequency() const
{
    return startFrequency_;
}

void GeneratorThread::setStartFrequency(int frequency)
{
    if (startFrequency_.exchange(frequency) != frequency)
        emit startFrequencyChanged(frequency);
}

int GeneratorThread::endFrequency() const
{
    return endFrequency_;
}

void GeneratorThread::setEndFrequency(int frequency)
{
    if (endFrequency_.exchange(frequency) != frequency)
        emit endFrequencyChanged(frequency);
}

float GeneratorThread::gain() const
{
    return gain_;
}

void GeneratorThread::setGain(float gain)
{
    if (fuzzyEqual(gain, gain_))
        return;
    gain_ = gain;
    emit gainChanged(gain);
}

uint GeneratorThread::sampleRate() const
{
    return sampleRate_;
}

float GeneratorThread::duration() const
{
    return duration_;
}

void GeneratorThread::setDuration(float duration)
{
    if (fuzzyEqual(duration, duration_))
        return;
    duration_ = duration;
    emit durationChanged(duration);
}

void GeneratorThread::setFadeDuration(float seconds)
{
    fadeDuration_ = seconds;
    if (hasSources())
        for (OutputDevice *source : std::as_const(sources_))
            source->setFadeDuration(seconds);
}

QSet<int> GeneratorThread::channels() const
{
    QMutexLocker lock(&channelsLock_);
    return channels_;
}

void GeneratorThread::setChannels(QSet<int> channels)
{
    QMutexLocker lock(&channelsLock_);
    if (channels == channels_)
        return;
    channels_ = channels;
    outputChannels_.store(channels);
    emit channelsChanged(channels);
}

void GeneratorThread::bindLoopback(LoopbackSink *sink)
{
    loopback_.bind(sink);
}

void GeneratorThread::unbindLoopback(LoopbackSink *sink)
{
    loopback_.unbind(sink);
}

void GeneratorThread::setAudioFilePath(QString path)
{
    if (!hasSources()) {
        // The sources are still being built: the file is loaded as soon as they are there.
        pendingAudioFile_ = path;
        return;
    }
    loadAudioFile(path);
}

void GeneratorThread::loadAudioFile(const QString &path)
{
    if (sources_.size() > audioFileType)
        if (auto *player = qobject_cast<AudioFilePlayer *>(sources_[audioFileType]))
            player->loadFile(path);
}
