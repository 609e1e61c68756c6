#pragma once

#include "audio/Format.h"

#include <QObject>
#include <atomic>

namespace audio {

// An open capture or render stream. Its user calls close() once and drops the pointer; the
// backend that opened it is connected to closeMe(), tears it down and deletes it later.
class Stream : public QObject
{
    Q_OBJECT
public:
    explicit Stream(const Format &format, QObject *parent = nullptr);

    bool isRunning() const { return running_.load(); }
    void close();

    // The format with the rate the stream really runs at (the driver may change it under us).
    Format format() const;
    void setSampleRate(unsigned rate);
    // For a capture backend, on the thread that writes the blocks: `frames` frames were lost
    // before the next block (-1 when nobody can tell how many).
    void reportDiscontinuity(qint64 frames) { emit discontinuity(frames); }

signals:
    void closeMe();
    void sampleRateChanged();
    // Emitted on the capture thread, right before the block that follows the gap.
    void discontinuity(qint64 frames);

private:
    const Format format_;
    std::atomic<bool> running_{true};
    std::atomic<bool> closeRequested_{false};
    // Written from driver threads, read from the GUI and measurement threads.
    std::atomic<uint32_t> actualSampleRate_;
};

} // namespace audio
