#include "audio/Stream.h"

namespace audio {

Stream::Stream(const Format &format, QObject *parent)
    : QObject(parent)
    , format_(format)
    , actualSampleRate_(format.sampleRate)
{ }

Stream::~Stream()
{
    std::lock_guard wait(*emitting_);
}

void Stream::close()
{
    running_.store(false);
    // Only the first close reaches the backend: the teardown runs once per stream.
    if (!closeRequested_.exchange(true)) {
        const std::shared_ptr<std::recursive_mutex> emitting = emitting_;
        std::lock_guard lock(*emitting);
        emit closeMe();
    }
}

Format Stream::format() const
{
    return Format{actualSampleRate_.load(), format_.channelCount};
}

void Stream::setSampleRate(unsigned rate)
{
    actualSampleRate_.store(rate);
    emit sampleRateChanged();
}

} // namespace audio
