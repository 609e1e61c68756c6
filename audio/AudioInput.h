#pragma once

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
// and splits every block into the microphone (measurement) channel and the reference channel.
// Blocks arrive in the backend's thread and the signals are emitted there. That thread takes no
// lock and allocates nothing: each open stream has buffers of its own, sized when it opens, and
// the split into every channel is made only while somebody listens for it. A receiver that
// keeps the lists (a queued connection) costs the capture thread a copy of the next block.
class AudioInput : public QObject
{
    Q_OBJECT
public:
    // Records from the devices of `client`.
    explicit AudioInput(std::shared_ptr<audio::Client> client = audio::Client::instance(),
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

signals:
    void dataReady(QList<float> data, QList<float> reference);
    void allChannelsDataReady(QList<QList<float>> channels);
    // Opening failed, or the open stream delivered nothing for two seconds.
    void errorOccurred(QString message);
    void sampleRateChanged(uint sampleRate);
    // The capture lost `frames` frames (-1: nobody can tell how many) before the next block;
    // emitted on the capture thread, before that block's dataReady.
    void discontinuity(qint64 frames);

private:
    class Capture;

    InputDevice *makeSink(const std::shared_ptr<Capture> &capture);
    audio::Stream *openStream(const QString &id, InputDevice *sink, bool reopening);
    void watchSampleRate(audio::Stream *stream);
    void watchDiscontinuity(audio::Stream *stream, const std::shared_ptr<Capture> &capture);
    void watchFrames(const audio::Stream &stream, const QString &id);
    bool openAndStore(const QString &id, bool reopening);
    void closeCurrent();
    static void closeStream(audio::Stream *stream, InputDevice *sink);
    void failOpening(InputDevice *sink, const char *logLine);
    void handleBlock(Capture &capture, const char *bytes, qint64 size);

    const std::shared_ptr<audio::Client> client_;
    QString deviceId_;
    audio::Stream *stream_ = nullptr;
    InputDevice *sink_ = nullptr;
    std::shared_ptr<Capture> capture_;
    audio::StreamWatch *watch_ = nullptr; // the owner's thread only
    std::atomic<int> measurementChannel_{0};
    std::atomic<int> referenceChannel_{1};
    std::atomic<bool> active_{false};
    mutable QMutex mutex_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};
