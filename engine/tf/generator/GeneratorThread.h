#pragma once

#include "audio/Client.h"
#include "audio/DeviceInfo.h"
#include "common/RealTimeBinding.h"
#include "engine/tf/generator/ChannelMask.h"
#include "engine/tf/generator/LoopbackSink.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QVariant>
#include <atomic>

class OutputDevice;
class QTimer;

namespace audio {
class NetworkSink;
class Stream;
class StreamWatch;
} // namespace audio

// The generator's playback thread. The thread object lives in the thread that creates it (the
// GUI thread), where its setters and output restarts run; the thread it starts owns the five
// test-signal sources (index = generator type: pink, white, sweep, audio file, periodic noise)
// and, for the network output, paces the network sender with a 5 ms timer. The sources are read
// by the sound card's render thread, or by this thread for the network output; every sample
// read also goes to the loopback sink bound to the generator (the measurement's reference).
// What the reading thread needs of the generator, the output channels and the sink, it reads
// without a lock.
//
// The sources exist once the thread has built them and the GUI thread has been told so; until
// then the setters only store their values, and a file path or an enabled output asked for
// meanwhile is applied as soon as the sources are there.
class GeneratorThread : public QThread
{
    Q_OBJECT
public:
    // Plays to the devices of `client`; a generator set to the network output hands its frames
    // to `networkSink` (the network audio sender), or to nothing when there is none.
    explicit GeneratorThread(std::shared_ptr<audio::Client> client = audio::Client::instance(),
                             audio::NetworkSink *networkSink = nullptr, QObject *parent = nullptr);
    // Ends the event loop and waits for the thread to tidy up (sources, timer, stream).
    ~GeneratorThread() override;

    // Frames the network output reads at a pacing tick: the clock's frames (48 per ms) plus 480
    // ahead, minus what was sent, at most 4800 (100 ms) per tick and never negative.
    static qint64 networkFramesDue(qint64 elapsedMs, qint64 framesSent);

    // Every sample the sources play goes to `sink` from now on; the one bound before is no
    // longer called once this returns. Null: to nothing.
    void bindLoopback(LoopbackSink *sink);
    // Unbinds `sink` if it is the one bound; it is no longer called once this returns.
    void unbindLoopback(LoopbackSink *sink);

    // The sources' side, read on the reading thread once per block.
    const ChannelMask &outputChannels() const { return outputChannels_; }
    realtime::Binding<LoopbackSink> &loopback() { return loopback_; }

signals:
    void enabledChanged(bool enabled);
    void typeChanged(int type);
    void frequencyChanged(int frequency);
    void startFrequencyChanged(int frequency);
    void endFrequencyChanged(int frequency);
    void gainChanged(float gain);
    void sampleRateChanged(uint sampleRate);
    void durationChanged(float duration);
    void deviceIdChanged(audio::DeviceInfo::Id deviceId);
    void deviceError();
    // The output could not be opened (deviceError is emitted as well).
    void outputNotOpened(audio::DeviceInfo::Id deviceId);
    // The open output took no frames for two seconds.
    void outputStalled(audio::DeviceInfo::Id deviceId);
    void channelsChanged(QSet<int> channels);
    void audioFileLoaded(bool success, QString error);
    // The source list (getAvailableTypes) became available.
    void typesChanged();

public slots:
    void init();
    void finish();
    bool enabled() const;
    void setEnabled(bool enable);
    int type() const;
    void setType(int type);
    audio::DeviceInfo::Id deviceId() const;
    void setDeviceId(audio::DeviceInfo::Id deviceId);
    QVariant getAvailableTypes() const;
    int frequency() const;
    void setFrequency(int frequency);
    int startFrequency() const;
    void setStartFrequency(int frequency);
    int endFrequency() const;
    void setEndFrequency(int frequency);
    float gain() const;
    void setGain(float gain);
    uint sampleRate() const;
    float duration() const;
    void setDuration(float duration);
    void setFadeDuration(float seconds);
    QSet<int> channels() const;
    void setChannels(QSet<int> channels);
    void setAudioFilePath(QString path);

protected:
    void run() override;

private:
    bool hasSources() const { return sourcesReady_; }
    OutputDevice *currentSource() const;
    void onSourcesReady();
    void warnWithoutChannels();
    void restartOutput();
    void openNetworkOutput(OutputDevice *source);
    void openDeviceOutput(OutputDevice *source);
    void startPacing();
    void stopPacing();
    void pullNetworkFrames();
    void onStreamRateChanged(audio::Stream *stream);
    void closeStream();
    void storeSampleRate(uint rate);
    void loadAudioFile(const QString &path);

    const std::shared_ptr<audio::Client> client_;
    audio::NetworkSink *const networkSink_;
    audio::DeviceInfo::Id deviceId_;
    audio::Stream *stream_ = nullptr;
    audio::StreamWatch *watch_ = nullptr; // made in this object's thread, for stream_
    QList<OutputDevice *> sources_;
    QSet<int> channels_;
    mutable QMutex channelsLock_;
    ChannelMask outputChannels_;
    realtime::Binding<LoopbackSink> loopback_;
    QTimer *pullTimer_ = nullptr;

    // The network output's state, shared by the GUI thread (restarts) and this thread (pulls).
    QMutex networkLock_;
    QElapsedTimer pullClock_;
    QList<float> networkBuffer_;
    qint64 framesSent_ = 0;
    bool networkOpen_ = false;
    OutputDevice *networkSource_ = nullptr;

    // Read by this thread and by the sources' readers, written by the GUI thread.
    std::atomic<float> gain_{-6.0f};
    std::atomic<bool> enabled_{false};
    std::atomic<uint> sampleRate_{48000};
    std::atomic<float> duration_{1.0f};
    std::atomic<float> fadeDuration_{1.0f};
    std::atomic<int> type_{0};
    std::atomic<int> frequency_{1000};
    std::atomic<int> startFrequency_{20};
    std::atomic<int> endFrequency_{20000};

    // GUI thread only.
    bool sourcesReady_ = false;
    QString pendingAudioFile_;
};
