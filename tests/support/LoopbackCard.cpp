#include "tests/support/LoopbackCard.h"

#include "audio/Stream.h"
#include "audio/StreamTiming.h"
#include "common/RealTime.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QMutexLocker>
#include <QThread>
#include <chrono>
#include <cmath>
#include <pthread.h>
#include <utility>

namespace snt::test {

LoopbackCard::LoopbackCard(const QString &pluginName, const QString &deviceId, int channels,
                           uint32_t sampleRate)
    : pluginName_(pluginName)
    , deviceId_(deviceId)
    , channels_(channels)
    , sampleRate_(sampleRate)
    , baseLatency_(int(sampleRate / 100))
    , historyFrames_(int(sampleRate) * 2)
    , paths_(channels)
    , history_(std::size_t(channels), std::vector<float>(std::size_t(sampleRate) * 2, 0.0f))
    , captured_(int(sampleRate / 100) * channels, 0.0f)
{
    thread_ = std::thread([this] { run(); });
}

LoopbackCard::~LoopbackCard()
{
    running_.store(false);
    thread_.join();
    QMutexLocker lock(&mutex_);
    for (const OpenStream &s : streams_) {
        s.device->close();
        delete s.stream;
    }
}

audio::DeviceList LoopbackCard::devices()
{
    QStringList names;
    for (int c = 0; c < channels_; ++c)
        names << QString::number(c + 1);
    return {audio::DeviceInfo{deviceId_, QStringLiteral("Loopback test card"), sampleRate_,
                              pluginName_, names, names}};
}

audio::DeviceInfo::Id LoopbackCard::defaultDevice(const Direction &)
{
    return deviceId_;
}

audio::Format LoopbackCard::preferredFormat(const audio::DeviceInfo::Id &, const Direction &)
{
    return audio::Format{sampleRate_, uint32_t(channels_)};
}

audio::Stream *LoopbackCard::open(const QString &id, const Direction &direction,
                                  const audio::Format &format, QIODevice *device)
{
    openCalls_.fetch_add(1);
    if (openHook_)
        openHook_();
    if (failOpen_ || (refusePlayback_ && direction == Output) || id != deviceId_
        || !isValidDirection(direction) || !device || format.channelCount == 0)
        return nullptr;
    const QIODevice::OpenMode mode
            = direction == Input ? QIODevice::WriteOnly : QIODevice::ReadOnly;
    if (!device->isOpen() && !device->open(mode))
        return nullptr;
    auto *stream = new audio::Stream(audio::Format{sampleRate_, format.channelCount});
    connect(
            stream, &audio::Stream::closeMe, this, [this, stream] { teardown(stream); },
            Qt::DirectConnection);
    QMutexLocker lock(&mutex_);
    // The card thread's scratch buffer grows here, never on the card thread.
    periodBuffer_.reserve(std::max<qsizetype>(periodBuffer_.capacity(),
                                              qsizetype(periodFrames()) * format.channelCount));
    streams_.append(OpenStream{stream, device, direction, int(format.channelCount)});
    lastStream_ = stream;
    return stream;
}

void LoopbackCard::teardown(audio::Stream *stream)
{
    QIODevice *device = nullptr;
    {
        QMutexLocker lock(&mutex_);
        for (qsizetype i = 0; i < streams_.size(); ++i) {
            if (streams_[i].stream == stream) {
                device = streams_[i].device;
                streams_.removeAt(i);
                break;
            }
        }
        if (lastStream_ == stream)
            lastStream_ = nullptr;
    }
    // The card thread no longer touches the device once the stream left the table.
    if (device && device->isOpen())
        device->close();
    stream->deleteLater();
    teardowns_.fetch_add(1);
}

void LoopbackCard::setPath(int inputChannel, const Path &path)
{
    QMutexLocker lock(&mutex_);
    if (inputChannel >= 0 && inputChannel < channels_)
        paths_[inputChannel] = PathState{path};
}

int LoopbackCard::openStreamCount() const
{
    QMutexLocker lock(&mutex_);
    return int(streams_.size());
}

bool LoopbackCard::waitTicks(qint64 count, int timeoutMs) const
{
    const qint64 target = ticks_.load() + count;
    QElapsedTimer timer;
    timer.start();
    while (ticks_.load() < target) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}

void LoopbackCard::run()
{
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(10000);
    auto next = clock::now();
    pthread_setname_np(pthread_self(), "loopback-card");
    const realtime::Section section;
    while (running_.load()) {
        next += period;
        std::this_thread::sleep_until(next);
        // A hiccup longer than the history would corrupt the loop; catch up tick by tick
        // instead, so the sample clock never skips.
        tick();
    }
}

void LoopbackCard::tick()
{
    const realtime::Lock lock(mutex_);
    // Output and input share the card's clock: what a tick moves happens at one instant.
    tickTime_ = std::chrono::steady_clock::now();
    renderPeriod(streams_);
    capturePeriod(streams_);
    frame_ += periodFrames();
    ticks_.fetch_add(1);
}

std::chrono::steady_clock::duration LoopbackCard::framesAsTime(int frames) const
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(double(frames) / double(sampleRate_)));
}

void LoopbackCard::renderPeriod(const QList<OpenStream> &streams)
{
    const int frames = periodFrames();
    for (int c = 0; c < channels_; ++c)
        for (int f = 0; f < frames; ++f)
            history_[c][(frame_ + f) % historyFrames_] = 0.0f;
    if (renderPeriodsToSkip_.load() > 0) {
        renderPeriodsToSkip_.fetch_sub(1);
        return;
    }
    for (const OpenStream &s : streams) {
        if (s.direction != Output || !s.stream->isRunning())
            continue;
        periodBuffer_.fill(0.0f, frames * s.channels);
        const qint64 wanted = qint64(periodBuffer_.size()) * qint64(sizeof(float));
        {
            // What the card reads now comes back `baseLatency` frames later.
            const audio::StreamTimingScope timing({tickTime_, baseLatency_,
                                                   tickTime_ + framesAsTime(baseLatency_),
                                                   baseLatency_ + frames});
            s.device->read(reinterpret_cast<char *>(periodBuffer_.data()), wanted);
        }
        s.stream->countFrames(uint64_t(frames));
        const int shared = std::min(s.channels, channels_);
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < shared; ++c)
                history_[c][(frame_ + f) % historyFrames_] += periodBuffer_[f * s.channels + c];
    }
}

float LoopbackCard::pathSample(int inputChannel, PathState &state, qint64 frame)
{
    const Path &path = state.path;
    const int source = path.sourceChannel < 0 ? inputChannel : path.sourceChannel;
    const qint64 at = frame - baseLatency_ - path.delayFrames;
    double x = 0.0;
    if (source < channels_ && at >= 0)
        x = history_[source][at % historyFrames_];
    // Transposed direct form II: exact for the identity biquad.
    const auto &b = path.biquad;
    const double y = b[0] * x + state.z1;
    state.z1 = b[1] * x - b[3] * y + state.z2;
    state.z2 = b[2] * x - b[4] * y;
    double out = y * path.gain;
    if (path.noiseRms > 0.0f) {
        std::normal_distribution<double> noise(0.0, path.noiseRms);
        out += noise(noise_);
    }
    return float(out);
}

void LoopbackCard::capturePeriod(QList<OpenStream> &streams)
{
    const int frames = periodFrames();
    for (int c = 0; c < channels_; ++c)
        for (int f = 0; f < frames; ++f)
            captured_[f * channels_ + c] = pathSample(c, paths_[c], frame_ + f);
    const bool dropped = capturePeriodsToDrop_.load() > 0;
    if (dropped)
        capturePeriodsToDrop_.fetch_sub(1);
    for (OpenStream &s : streams) {
        if (s.direction != Input || !s.stream->isRunning())
            continue;
        if (dropped) {
            s.lostFrames += frames;
            continue;
        }
        if (s.lostFrames > 0)
            s.stream->reportDiscontinuity(std::exchange(s.lostFrames, 0));
        periodBuffer_.fill(0.0f, frames * s.channels);
        const int shared = std::min(s.channels, channels_);
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < shared; ++c)
                periodBuffer_[f * s.channels + c] = captured_[f * channels_ + c];
        const audio::StreamTimingScope timing({tickTime_, 0, tickTime_, frames});
        s.device->write(reinterpret_cast<const char *>(periodBuffer_.constData()),
                        qint64(periodBuffer_.size()) * qint64(sizeof(float)));
        s.stream->countFrames(uint64_t(frames));
    }
}

} // namespace snt::test
