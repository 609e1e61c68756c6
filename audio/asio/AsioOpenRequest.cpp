#include "audio/asio/AsioOpenRequest.h"

namespace audio::asio {

bool OpenRequest::take()
{
    {
        std::lock_guard lock(mutex_);
        if (givenUp_)
            return false;
        taken_ = true;
    }
    changed_.notify_all();
    return true;
}

void OpenRequest::finish(Stream *stream)
{
    {
        std::lock_guard lock(mutex_);
        stream_ = stream;
        done_ = true;
    }
    changed_.notify_all();
}

bool OpenRequest::await(std::chrono::milliseconds pickUp, Stream **stream)
{
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, pickUp, [this] { return taken_; })) {
        givenUp_ = true;
        *stream = nullptr;
        return false;
    }
    changed_.wait(lock, [this] { return done_; });
    *stream = stream_;
    return true;
}

} // namespace audio::asio
