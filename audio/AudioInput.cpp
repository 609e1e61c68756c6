#include "audio/AudioInput.h"

#include "audio/Client.h"
#include "audio/InputDevice.h"
#include "audio/Stream.h"
#include "common/Log.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QVarLengthArray>
#include <cstring>
#include <utility>

namespace {
const char *const kTag = "AudioInput:";
const char *const kOpenFailedMessage = "无法打开音频输入设备";
} // namespace

AudioInput::AudioInput(std::shared_ptr<audio::Client> client, QObject *parent)
    : QObject(parent)
    , client_(std::move(client))
{
    deviceId_ = client_->defaultDevice(audio::Plugin::Input);
    sntInfo(kTag) << "default input device:" << deviceId_;
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

InputDevice *AudioInput::makeSink()
{
    std::shared_ptr<std::atomic<bool>> alive = alive_;
    return new InputDevice(
            [this, alive](const char *data, qint64 bytes) {
                if (alive->load())
                    handleBlock(data, bytes);
            },
            this);
}

audio::Stream *AudioInput::openStream(const QString &id, InputDevice *sink, bool reopening)
{
    const audio::Format format = client_->preferredInputFormat(id);
    if (reopening)
        sntInfo(kTag) << "Reopening with device:" << id << "format:" << format.sampleRate
                      << "ch:" << format.channelCount;
    else
        sntInfo(kTag) << "Format - sampleRate:" << format.sampleRate
                      << "channelCount:" << format.channelCount;
    return client_->openInput(id, sink, format);
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

void AudioInput::closeCurrent()
{
    audio::Stream *stream = nullptr;
    InputDevice *sink = nullptr;
    {
        QMutexLocker lock(&mutex_);
        active_.store(false);
        stream = std::exchange(stream_, nullptr);
        sink = std::exchange(sink_, nullptr);
    }
    closeStream(stream, sink);
}

void AudioInput::closeStream(audio::Stream *stream, InputDevice *sink)
{
    // Never under the mutex: closing waits for the capture thread, which may be waiting for
    // the mutex in the block handler.
    if (stream)
        stream->close();
    if (sink)
        sink->close();
}

void AudioInput::failOpening(InputDevice *sink, const char *logLine)
{
    sntWarning(kTag) << logLine;
    delete sink;
    emit errorOccurred(QString::fromUtf8(kOpenFailedMessage));
}

bool AudioInput::openAndStore(const QString &id, bool reopening)
{
    InputDevice *sink = makeSink();
    // The backend's open may block on a thread of its own that is delivering a block to us,
    // so the stream is opened without our mutex and stored under it.
    audio::Stream *stream = openStream(id, sink, reopening);
    if (!stream) {
        failOpening(sink, reopening ? "Failed to reopen with new device!"
                                    : "Failed to open audio input!");
        return false;
    }
    QMutexLocker lock(&mutex_);
    stream_ = stream;
    sink_ = sink;
    watchSampleRate(stream);
    active_.store(true);
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
    sntInfo(kTag) << "Opening input device:" << id;
    if (openAndStore(id, false))
        sntInfo(kTag) << "Successfully opened";
}

void AudioInput::setDeviceId(const QString &id)
{
    {
        QMutexLocker lock(&mutex_);
        if (id == deviceId_)
            return;
        sntInfo(kTag) << "Changing device from" << deviceId_ << "to" << id;
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

void AudioInput::handleBlock(const char *bytes, qint64 size)
{
    if (!active_.load())
        return;
    QMutexLocker lock(&mutex_);
    if (!stream_)
        return;
    const qsizetype channelCount = stream_->format().channelCount;
    if (channelCount == 0)
        return;
    const qsizetype frames = (size / qint64(sizeof(float))) / channelCount;
    const int measurement = measurementChannel_.load();
    const int reference = referenceChannel_.load();
    // An out-of-range reference falls back to the "other" channel of a multichannel stream.
    const qsizetype fallbackReference = channelCount > 1 ? (measurement == 0 ? 1 : 0) : -1;
    const qsizetype referenceIndex
            = (reference >= 0 && reference < channelCount) ? reference : fallbackReference;
    const bool hasMeasurement = measurement >= 0 && measurement < channelCount;

    QList<QList<float>> channels(channelCount, QList<float>(frames, 0.0f));
    QVarLengthArray<float *, 16> channelOut(channelCount);
    for (qsizetype c = 0; c < channelCount; ++c)
        channelOut[c] = channels[c].data();
    const qsizetype frameBytes = channelCount * qsizetype(sizeof(float));
    for (qsizetype f = 0; f < frames; ++f) {
        const char *frame = bytes + f * frameBytes;
        for (qsizetype c = 0; c < channelCount; ++c)
            std::memcpy(channelOut[c] + f, frame + c * qsizetype(sizeof(float)), sizeof(float));
    }
    // Shared copies of the channel lists: no second pass over the block.
    const QList<float> data = hasMeasurement ? channels[measurement] : QList<float>(frames, 0.0f);
    const QList<float> ref
            = referenceIndex >= 0 ? channels[referenceIndex] : QList<float>(frames, 0.0f);
    emit dataReady(data, ref);
    emit allChannelsDataReady(channels);
}
