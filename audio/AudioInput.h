#pragma once

#include "audio/CaptureSink.h"
#include "audio/Client.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

namespace audio {
class Stream;
class StreamWatch;
} // namespace audio
class InputDevice;

// The recording front end of the measurement: opens one capture stream through the audio client
// and splits every block into the microphone (measurement) channel and the reference channel,
// which it hands to its sink as views of buffers made when the stream opened, along with the
// places where the capture lost frames. Blocks arrive in the backend's thread and go on from
// there. That thread takes no lock and allocates nothing, as long as nobody listens for the
// split into every channel: that signal's lists are made only while somebody does, and a
// receiver that keeps them (a queued connection) costs the capture thread a copy of the next
// block.
class AudioInput : public QObject
{
    Q_OBJECT
public:
    // Records from the devices of `client` into `sink` (null: the blocks go nowhere).
    explicit AudioInput(audio::CaptureSink *sink,
                        std::shared_ptr<audio::Client> client = audio::Client::instance(),
                        QObject *parent = nullptr);
    ~AudioInput() override;

    QString deviceId() const;
    void setDeviceId(const QString &id);
    void setMeasurementChannel(int channel) { measurementChannel_.store(channel); }
    void setReferenceChannel(int channel) { referenceChannel_.store(channel); }
    int measurementChannel() const { return measurementChannel_.load(); }
    int referenceChannel() const { return referenceChannel_.load(); }
    bool isActive() const { return active_.load(); }
    void setActive(bool active);
    // The rate the open stream really runs at, or 0 without a stream.
    unsigned sampleRate() const;
    // The channel read as the measurement of a stream with `channels` channels: the one chosen
    // where the stream has it, else none (-1), and the measurement hears silence.
    static constexpr int measurementChannelRead(int chosen, int channels)
    {
        return chosen >= 0 && chosen < channels ? chosen : -1;
    }
    // The channel read as the reference of a stream with `channels` channels: the one chosen
    // where the stream has it; else the other of the first two of a multichannel stream (the
    // one the measurement channel leaves), and none (-1) of a mono one.
    static constexpr int referenceChannelRead(int chosen, int measurementChannel, int channels)
    {
        if (chosen >= 0 && chosen < channels)
            return chosen;
        return channels > 1 ? (measurementChannel == 0 ? 1 : 0) : -1;
    }

signals:
    void allChannelsDataReady(QList<QList<float>> channels);
    // Opening failed, or the open stream delivered nothing for two seconds.
    void errorOccurred(QString message);
    void sampleRateChanged(uint sampleRate);

private:
    class Capture;

    InputDevice *makeDevice(const std::shared_ptr<Capture> &capture);
    audio::Stream *openStream(const QString &id, InputDevice *device, bool reopening);
    void watchSampleRate(audio::Stream *stream);
    void watchDiscontinuity(audio::Stream *stream, const std::shared_ptr<Capture> &capture);
    void watchFrames(const audio::Stream &stream, const QString &id);
    bool openAndStore(const QString &id, bool reopening);
    void closeCurrent();
    static void closeStream(audio::Stream *stream, InputDevice *device);
    void failOpening(InputDevice *device, const char *logLine);
    void handleBlock(Capture &capture, const char *bytes, qint64 size);

    audio::CaptureSink *const sink_;
    const std::shared_ptr<audio::Client> client_;
    QString deviceId_;
    audio::Stream *stream_ = nullptr;
    InputDevice *device_ = nullptr;
    std::shared_ptr<Capture> capture_;
    audio::StreamWatch *watch_ = nullptr; // the owner's thread only
    std::atomic<int> measurementChannel_{0};
    std::atomic<int> referenceChannel_{1};
    std::atomic<bool> active_{false};
    mutable QMutex mutex_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};
