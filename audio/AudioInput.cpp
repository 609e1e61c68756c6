#include "audio/AudioInput.h"

#include "audio/Client.h"
#include "audio/InputDevice.h"
#include "audio/Stream.h"
#include "audio/StreamWatch.h"
#include "common/Log.h"

#include <QMetaMethod>
#include <QMetaObject>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {
const char *const kTag = "AudioInput:";
const char *const kOpenFailedMessage = "无法打开音频输入设备";
const char *const kNoFramesMessage = "声卡没有送来声音，检查设备或换一个声卡";

// Frames one block can hold: 100 ms, the backends' buffer; a longer write is split.
qsizetype blockCapacity(unsigned sampleRate)
{
    return std::max<qsizetype>(sampleRate / 10, 1024);
}
} // namespace

// What the blocks of one open stream are split into. Sized on the opening thread before the
// stream's blocks are let in; afterwards only the stream's capture thread touches the buffers.
class AudioInput::Capture
{
public:
    void prepare(const audio::Format &format)
    {
        capacity = blockCapacity(format.sampleRate);
        data.resize(std::size_t(capacity));
        reference.resize(std::size_t(capacity));
        everyChannel = QList<QList<float>>(format.channelCount);
        for (QList<float> &channel : everyChannel)
            channel.reserve(capacity);
        channels.store(int(format.channelCount), std::memory_order_release);
    }
    // Blocks from now on are dropped.
    void stop() { channels.store(0, std::memory_order_release); }

    std::atomic<int> channels{0}; // 0: blocks are not taken
    qsizetype capacity = 0;
    std::vector<float> data;
    std::vector<float> reference;
    QList<QList<float>> everyChannel;
};

AudioInput::AudioInput(audio::CaptureSink *sink, std::shared_ptr<audio::Client> client,
                       QObject *parent)
    : QObject(parent)
    , sink_(sink)
    , client_(std::move(client))
{
    deviceId_ = client_->defaultDevice(audio::Plugin::Input);
    sntInfo(lcAudio, kTag) << "default input device:" << deviceId_;
}

AudioInput::~AudioInput()
{
    closeCurrent();
    alive_->store(false);
}

QString AudioInput::deviceId() const
{
    QMutexLocker lock(&mutex_);
    return deviceId_;
}

InputDevice *AudioInput::makeDevice(const std::shared_ptr<Capture> &capture)
{
    std::shared_ptr<std::atomic<bool>> alive = alive_;
    return new InputDevice(
            [this, alive, capture](const char *data, qint64 bytes) {
                if (alive->load())
                    handleBlock(*capture, data, bytes);
            },
            this);
}

audio::Stream *AudioInput::openStream(const QString &id, InputDevice *device, bool reopening)
{
    const audio::Format format = client_->preferredInputFormat(id);
    if (reopening)
        sntInfo(lcAudio, kTag) << "Reopening with device:" << id << "format:" << format.sampleRate
                               << "ch:" << format.channelCount;
    else
        sntInfo(lcAudio, kTag) << "Format - sampleRate:" << format.sampleRate
                               << "channelCount:" << format.channelCount;
    return client_->openInput(id, device, format);
}

void AudioInput::watchSampleRate(audio::Stream *stream)
{
    // The rate is read while the stream is known to be alive (in the emitting thread) and only
    // the value travels to our thread: the stream may be gone by the time the call runs.
    connect(
            stream, &audio::Stream::sampleRateChanged, this,
            [this, stream] {
                const uint rate = stream->format().sampleRate;
                QMetaObject::invokeMethod(
                        this, [this, rate] { emit sampleRateChanged(rate); }, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
}

void AudioInput::watchDiscontinuity(audio::Stream *stream, const std::shared_ptr<Capture> &capture)
{
    if (!sink_)
        return;
    std::shared_ptr<std::atomic<bool>> alive = alive_;
    connect(
            stream, &audio::Stream::discontinuity, this,
            [this, alive, capture](qint64 frames) {
                if (alive->load() && active_.load() && capture->channels.load() > 0)
                    sink_->captureLost(frames);
            },
            Qt::DirectConnection);
}

void AudioInput::watchFrames(const audio::Stream &stream, const QString &id)
{
    // A device that opened but delivers nothing (a dead card, a PCM that never starts) is named
    // instead of leaving the measurement silent.
    watch_ = new audio::StreamWatch(stream, this);
    connect(watch_, &audio::StreamWatch::stalled, this, [this, id] {
        sntWarning(lcAudio, kTag) << "no frames from" << id << client_->deviceName(id) << "for"
                                  << audio::StreamWatch::silenceLimit.count() << "ms";
        emit errorOccurred(QString::fromUtf8(kNoFramesMessage));
    });
}

void AudioInput::closeCurrent()
{
    delete std::exchange(watch_, nullptr);
    audio::Stream *stream = nullptr;
    InputDevice *device = nullptr;
    {
        QMutexLocker lock(&mutex_);
        active_.store(false);
        stream = std::exchange(stream_, nullptr);
        device = std::exchange(device_, nullptr);
        if (const std::shared_ptr<Capture> capture = std::exchange(capture_, nullptr))
            capture->stop();
    }
    closeStream(stream, device);
}

void AudioInput::closeStream(audio::Stream *stream, InputDevice *device)
{
    // Never under the mutex: closing waits for the capture thread, and whoever the backend
    // calls meanwhile must be able to ask us something.
    if (stream)
        stream->close();
    if (device)
        device->close();
}

void AudioInput::failOpening(InputDevice *device, const char *logLine)
{
    sntWarning(lcAudio, kTag) << logLine;
    delete device;
    emit errorOccurred(QString::fromUtf8(kOpenFailedMessage));
}

bool AudioInput::openAndStore(const QString &id, bool reopening)
{
    const auto capture = std::make_shared<Capture>();
    InputDevice *device = makeDevice(capture);
    // The backend's open may block on a thread of its own that is delivering a block to us,
    // so the stream is opened without our mutex and stored under it.
    audio::Stream *stream = openStream(id, device, reopening);
    if (!stream) {
        failOpening(device, reopening ? "Failed to reopen with new device!"
                                      : "Failed to open audio input!");
        return false;
    }
    QMutexLocker lock(&mutex_);
    stream_ = stream;
    device_ = device;
    capture_ = capture;
    watchSampleRate(stream);
    watchDiscontinuity(stream, capture);
    active_.store(true);
    capture->prepare(stream->format());
    watchFrames(*stream, id);
    return true;
}

void AudioInput::setActive(bool active)
{
    if (active == active_.load())
        return;
    if (!active) {
        closeCurrent();
        return;
    }
    const QString id = deviceId();
    sntInfo(lcAudio, kTag) << "Opening input device:" << id;
    if (openAndStore(id, false))
        sntInfo(lcAudio, kTag) << "Successfully opened";
}

void AudioInput::setDeviceId(const QString &id)
{
    {
        QMutexLocker lock(&mutex_);
        if (id == deviceId_)
            return;
        sntInfo(lcAudio, kTag) << "Changing device from" << deviceId_ << "to" << id;
        deviceId_ = id;
    }
    const bool wasActive = active_.exchange(false);
    closeCurrent();
    if (wasActive)
        openAndStore(id, true);
}

unsigned AudioInput::sampleRate() const
{
    QMutexLocker lock(&mutex_);
    return stream_ ? stream_->format().sampleRate : 0;
}

void AudioInput::handleBlock(Capture &capture, const char *bytes, qint64 size)
{
    if (!active_.load())
        return;
    const qsizetype channelCount = capture.channels.load(std::memory_order_acquire);
    if (channelCount == 0)
        return;
    const qsizetype frames = (size / qint64(sizeof(float))) / channelCount;
    const int measurement = measurementChannel_.load();
    const int reference = referenceChannel_.load();
    const qsizetype referenceIndex
            = referenceChannelRead(reference, measurement, int(channelCount));
    const qsizetype measurementIndex = measurementChannelRead(measurement, int(channelCount));
    static const QMetaMethod everyChannelSignal
            = QMetaMethod::fromSignal(&AudioInput::allChannelsDataReady);
    const bool everyChannel = isSignalConnected(everyChannelSignal);

    const qsizetype frameBytes = channelCount * qsizetype(sizeof(float));
    const auto split = [&](const char *block, qsizetype n, qsizetype channel, float *to) {
        if (channel < 0) {
            std::fill_n(to, n, 0.0f);
            return;
        }
        const char *from = block + channel * qsizetype(sizeof(float));
        for (qsizetype f = 0; f < n; ++f)
            std::memcpy(to + f, from + f * frameBytes, sizeof(float));
    };
    for (qsizetype done = 0; done < frames; done += capture.capacity) {
        const qsizetype n = std::min(capture.capacity, frames - done);
        const char *block = bytes + done * frameBytes;
        if (sink_) {
            split(block, n, measurementIndex, capture.data.data());
            split(block, n, referenceIndex, capture.reference.data());
            sink_->captured({capture.data.data(), std::size_t(n)},
                            {capture.reference.data(), std::size_t(n)});
        }
        if (!everyChannel)
            continue;
        for (qsizetype c = 0; c < channelCount; ++c) {
            QList<float> &channel = capture.everyChannel[c];
            channel.resize(n);
            split(block, n, c, channel.data());
        }
        emit allChannelsDataReady(capture.everyChannel);
    }
}
