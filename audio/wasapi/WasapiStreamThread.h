#pragma once

#include "platform/AudioLayer.h"

#include <QThread>
#include <atomic>
#include <memory>

class QIODevice;

namespace audio {

class Stream;

namespace wasapi {

// What one open stream shares between the opener, its thread and its teardown.
struct StreamContext
{
    std::shared_ptr<platform::AudioClient> audioClient;
    std::shared_ptr<platform::RenderClient> renderClient;
    std::shared_ptr<platform::CaptureClient> captureClient;
    std::shared_ptr<platform::Event> event;
    QIODevice *device = nullptr;
    uint32_t bufferFrames = 0;
    uint32_t frameBytes = 0;
    std::atomic<bool> keepRunning{true};
    std::atomic<bool> tornDown{false};
    QThread *thread = nullptr;
    Stream *stream = nullptr;
};

// The thread of one stream: woken by the audio client's event once per period, it moves audio
// between the client and the stream's QIODevice until told to stop, until no event comes for a
// second, or until a call fails; then it stops the audio client.
class StreamThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int eventTimeoutMs = 1000;

    explicit StreamThread(std::shared_ptr<StreamContext> context);

protected:
    void run() override;

private:
    // Each returns false when the loop must end.
    bool waitForPeriod();
    bool renderPeriod();
    bool capturePackets();
    void writeSilence(qint64 bytes);

    const std::shared_ptr<StreamContext> context_;
    QByteArray zeros_;
};

} // namespace wasapi
} // namespace audio
