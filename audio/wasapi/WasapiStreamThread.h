#pragma once

#include "platform/AudioLayer.h"

#include <QThread>
#include <atomic>
#include <memory>
#include <optional>

class QIODevice;

namespace audio {

class Stream;
struct StreamTiming;

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
    uint32_t sampleRate = 0;
    std::atomic<bool> keepRunning{true};
    std::atomic<bool> tornDown{false};
    QThread *thread = nullptr;
    Stream *stream = nullptr;
};

// The thread of one stream: woken by the audio client's event once per period, it moves audio
// between the client and the stream's QIODevice until told to stop, until no event comes for a
// second, or until a call fails; then it stops the audio client. Its loop is a real-time
// section: it allocates nothing and logs only when it ends. It runs no events: no object lives
// on this thread, and an event posted to one that did would be run (and freed) inside the
// section. A capture thread tells the stream about every gap in the device positions before it
// writes the packet after it. Around each read and write it says when the frames meet the
// outside world (audio/StreamTiming.h): by the device's clock where the audio client tells it,
// and by when the read or write began.
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
    bool waitForPeriod(bool *timedOut);
    bool renderPeriod();
    bool capturePackets();
    void reportGap(uint32_t flags, uint64_t position);
    // The timing of a render read that begins at stream frame `released_`; false when a call
    // fails.
    bool renderTiming(uint32_t padding, uint32_t deviceDelay, StreamTiming *timing);
    // The timing of a capture packet's write.
    bool captureTiming(platform::QpcTime qpc, StreamTiming *timing);
    void writeSilence(qint64 bytes);

    const std::shared_ptr<StreamContext> context_;
    QByteArray zeros_;
    // Where the next capture packet should start; none before the first.
    std::optional<uint64_t> expectedPosition_;
    // Render: frames released into the buffer so far.
    uint64_t released_ = 0;
};

} // namespace wasapi
} // namespace audio
