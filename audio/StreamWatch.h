#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>

namespace audio {

class Stream;

// Watches an open stream from its owner's thread: when the stream moves no frames for two
// seconds (an input that delivers nothing, an output that takes nothing, a driver that stopped)
// it says so once, and again only after frames moved in between. The owner makes it when the
// stream opens and deletes it when it closes the stream; it never touches the stream after it
// was made.
class StreamWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds silenceLimit{2000};

    explicit StreamWatch(const Stream &stream, QObject *parent = nullptr);

signals:
    void stalled();

private:
    void check();

    const std::shared_ptr<const std::atomic<uint64_t>> framesMoved_;
    uint64_t lastFrames_ = 0;
    QElapsedTimer sinceMoved_;
    bool reported_ = false;
    QTimer poll_;
};

} // namespace audio
