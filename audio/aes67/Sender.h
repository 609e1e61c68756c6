#pragma once

#include "audio/aes67/FrameRing.h"

#include <QObject>
#include <atomic>
#include <memory>

namespace audio::aes67 {

// The process-wide network audio sender. Generators whose output is the network output hand
// every block they produce to push(), on the generator thread; push() stores it in the frame
// ring for the sender's packetiser. Everything else of the sender lives in the application's
// main thread, whichever thread first asks for the sender.
class Sender : public QObject
{
    Q_OBJECT
public:
    static Sender *instance();
    ~Sender() override;

    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    // The switch that starting and stopping the stream flip; push() takes blocks only while it
    // is on.
    void setRunning(bool running);

    // Frames lost to overflow since the sender was created.
    qint64 droppedFrames() const { return droppedFrames_.load(std::memory_order_relaxed); }
    // Set once a block arrived at a rate other than 48000 Hz.
    bool rateMismatch() const { return rateMismatch_.load(std::memory_order_relaxed); }

    FrameRing &ring() { return *ring_; }

public slots:
    // Takes one interleaved block from a test-signal source. Never blocks, never allocates: a
    // block that does not fit pushes out the oldest unread frames, which are counted as dropped.
    // The ring has room for one writer; a block arriving while another thread is inside push()
    // (two generators playing at once) is dropped and counted instead of corrupting the ring.
    void push(const float *data, qlonglong frames, int channels, int sampleRate);

signals:
    void runningChanged(bool running);

private:
    Sender();

    const std::unique_ptr<FrameRing> ring_;
    std::atomic<bool> running_{false};
    std::atomic<qint64> droppedFrames_{0};
    std::atomic<bool> rateMismatch_{false};
    std::atomic<bool> writing_{false};
};

} // namespace audio::aes67
