#include "audio/StreamWatch.h"

#include "audio/Stream.h"

namespace audio {
namespace {

constexpr std::chrono::milliseconds pollInterval{250};

} // namespace

StreamWatch::StreamWatch(const Stream &stream, QObject *parent)
    : QObject(parent)
    , framesMoved_(stream.framesMoved())
    , lastFrames_(framesMoved_->load(std::memory_order_relaxed))
{
    sinceMoved_.start();
    connect(&poll_, &QTimer::timeout, this, &StreamWatch::check);
    poll_.start(pollInterval);
}

void StreamWatch::check()
{
    const uint64_t frames = framesMoved_->load(std::memory_order_relaxed);
    if (frames != lastFrames_) {
        lastFrames_ = frames;
        sinceMoved_.restart();
        reported_ = false;
        return;
    }
    if (!reported_ && sinceMoved_.elapsed() >= silenceLimit.count()) {
        reported_ = true;
        emit stalled();
    }
}

} // namespace audio
