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

bool OpenRequest::await(const std::function<bool()> &stalled, std::chrono::milliseconds patience,
                        Stream **stream)
{
    std::unique_lock lock(mutex_);
    while (!takenWithinALook(lock)) {
        if (stalled() && stallOutlasts(lock, stalled, patience)) {
            givenUp_ = true;
            *stream = nullptr;
            return false;
        }
    }
    changed_.wait(lock, [this] { return done_; });
    *stream = stream_;
    return true;
}

bool OpenRequest::takenWithinALook(std::unique_lock<std::mutex> &lock)
{
    // How often the asker looks whether the ASIO thread is stalled.
    constexpr std::chrono::milliseconds look{10};
    return changed_.wait_for(lock, look, [this] { return taken_; });
}

bool OpenRequest::stallOutlasts(std::unique_lock<std::mutex> &lock,
                                const std::function<bool()> &stalled,
                                std::chrono::milliseconds patience)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point stalledSince = Clock::now();
    while (!takenWithinALook(lock)) {
        if (!stalled())
            return false;
        if (Clock::now() - stalledSince >= patience)
            return true;
    }
    return false;
}

} // namespace audio::asio
