#pragma once

#include "audio/Plugin.h"

#include <QList>
#include <QMutex>
#include <QVector>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace audio {
class Stream;
}

namespace snt::test {

// An in-process duplex sound card for tests. One card thread runs in real time, one 10 ms
// period per tick: it reads a period from every open render stream, mixes them per channel into
// the card's output, and writes a period to every open capture stream, whose channels are the
// output channels fed back through a per-channel path (source channel, gain, delay, biquad,
// added noise). Output and input share one sample clock, so the loop latency is constant:
// `baseLatency` plus the path's delay, in frames; the card reports `baseLatency` as its render
// streams' latency and none for its capture streams, and its clock's times of both. Streams follow the backend rules of the audio
// client: the card opens the QIODevice, and tears a stream down after its close(). The card
// thread is a real-time section: it allocates nothing while it runs.
class LoopbackCard : public audio::Plugin
{
    Q_OBJECT
public:
    struct Path
    {
        int sourceChannel = -1; // -1: the output channel with the same index
        float gain = 1.0f;
        int delayFrames = 0;
        // b0, b1, b2, a1, a2 of a biquad with a0 = 1; identity by default.
        std::array<double, 5> biquad{1.0, 0.0, 0.0, 0.0, 0.0};
        float noiseRms = 0.0f;
    };

    explicit LoopbackCard(const QString &pluginName = QStringLiteral("Loopback"),
                          const QString &deviceId = QStringLiteral("loopback-card"),
                          int channels = 2, uint32_t sampleRate = 48000);
    ~LoopbackCard() override;

    QString name() const override { return pluginName_; }
    audio::DeviceList devices() override;
    audio::DeviceInfo::Id defaultDevice(const Direction &direction) override;
    audio::Format preferredFormat(const audio::DeviceInfo::Id &id,
                                  const Direction &direction) override;
    audio::Stream *open(const QString &id, const Direction &direction, const audio::Format &format,
                        QIODevice *device) override;

    QString deviceId() const { return deviceId_; }
    int periodFrames() const { return int(sampleRate_ / 100); }
    int baseLatency() const { return baseLatency_; }

    void setPath(int inputChannel, const Path &path);
    void setFailOpen(bool fail) { failOpen_ = fail; }
    // Render streams do not open, as on a card whose playback side is held or gone; capture
    // streams still do.
    void setRefusePlayback(bool refuse) { refusePlayback_ = refuse; }
    // The next `periods` capture periods never reach the capture streams, as if the card had
    // dropped them; each stream is told how many frames it lost before its next block.
    void dropCapturePeriods(int periods) { capturePeriodsToDrop_.fetch_add(periods); }
    // For the next `periods` periods the card takes nothing from the render streams, as a card
    // that stalls; its output is silent meanwhile.
    void stallRender(int periods) { renderPeriodsToSkip_.fetch_add(periods); }
    // Called inside open(), before the stream exists: lets a test look at the world from there.
    void setOpenHook(std::function<void()> hook) { openHook_ = std::move(hook); }

    int openStreamCount() const;
    int openCalls() const { return openCalls_.load(); }
    int teardowns() const { return teardowns_.load(); }
    // Ticks the card thread has run; tests wait on it instead of on wall time.
    qint64 ticks() const { return ticks_.load(); }
    bool waitTicks(qint64 count, int timeoutMs = 5000) const;
    audio::Stream *lastStream() const { return lastStream_; }

private:
    struct OpenStream
    {
        audio::Stream *stream;
        QIODevice *device;
        Direction direction;
        int channels;
        qint64 lostFrames = 0;
    };
    struct PathState
    {
        Path path;
        double z1 = 0.0, z2 = 0.0;
    };

    void run();
    void tick();
    void renderPeriod(const QList<OpenStream> &streams);
    void capturePeriod(QList<OpenStream> &streams);
    float pathSample(int inputChannel, PathState &state, qint64 frame);
    std::chrono::steady_clock::duration framesAsTime(int frames) const;
    void teardown(audio::Stream *stream);

    const QString pluginName_;
    const QString deviceId_;
    const int channels_;
    const uint32_t sampleRate_;
    const int baseLatency_;
    const int historyFrames_;

    mutable QMutex mutex_;
    QList<OpenStream> streams_;
    QVector<PathState> paths_;
    // Per output channel, a ring indexed by absolute frame; one block each (shared blocks, as
    // copies of one QVector would be, would be copied on the card thread at their first write).
    std::vector<std::vector<float>> history_;
    QVector<float> periodBuffer_;
    QVector<float> captured_;
    qint64 frame_ = 0;
    std::chrono::steady_clock::time_point tickTime_;
    std::mt19937 noise_{12345};

    bool failOpen_ = false;
    bool refusePlayback_ = false;
    std::function<void()> openHook_;
    audio::Stream *lastStream_ = nullptr;
    std::atomic<int> openCalls_{0};
    std::atomic<int> teardowns_{0};
    std::atomic<qint64> ticks_{0};
    std::atomic<int> capturePeriodsToDrop_{0};
    std::atomic<int> renderPeriodsToSkip_{0};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace snt::test
