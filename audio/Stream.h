#pragma once

#include "audio/Format.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>

namespace audio {

// An open capture or render stream. Its user calls close() once and drops the pointer; the
// backend that opened it is connected to closeMe(), tears it down and deletes it later.
class Stream : public QObject
{
    Q_OBJECT
public:
    explicit Stream(const Format &format, QObject *parent = nullptr);
    ~Stream() override;

    bool isRunning() const { return running_.load(); }
    void close();
    // The backend ended the stream by itself (its device went away or was handed to another
    // driver): isRunning() turns false. The owner still calls close() once, after which the
    // backend deletes the stream; until then the object stays valid.
    void markStopped() { running_.store(false); }

    // The format with the rate the stream really runs at (the driver may change it under us).
    Format format() const;
    void setSampleRate(unsigned rate);
    // For a capture backend, on the thread that writes the blocks: `frames` frames were lost
    // before the next block (-1 when nobody can tell how many).
    void reportDiscontinuity(qint64 frames) { emit discontinuity(frames); }

    // For the backend, on its audio thread (wait-free): `frames` frames went between the device
    // and the stream's QIODevice.
    void countFrames(uint64_t frames)
    {
        framesMoved_->fetch_add(frames, std::memory_order_relaxed);
    }
    // Frames moved so far, readable from any thread for as long as its holder keeps it, even
    // after the stream is gone.
    std::shared_ptr<const std::atomic<uint64_t>> framesMoved() const { return framesMoved_; }

signals:
    void closeMe();
    void sampleRateChanged();
    // Emitted on the capture thread, right before the block that follows the gap.
    void discontinuity(qint64 frames);

private:
    const Format format_;
    std::atomic<bool> running_{true};
    std::atomic<bool> closeRequested_{false};
    // Held while closeMe() is emitted; the destructor takes it too. A backend whose stream
    // lives in another thread may so delete it as soon as the teardown ran, while close() is
    // still returning in the owner's thread. Shared, so close() can still release it when a
    // teardown deleted the stream right inside the emission.
    const std::shared_ptr<std::recursive_mutex> emitting_
            = std::make_shared<std::recursive_mutex>();
    // Written from driver threads, read from the GUI and measurement threads.
    std::atomic<uint32_t> actualSampleRate_;
    const std::shared_ptr<std::atomic<uint64_t>> framesMoved_
            = std::make_shared<std::atomic<uint64_t>>(0);
};

} // namespace audio
