#include "audio/asio/AsioOpenRequest.h"

#include <optional>

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
    using Clock = std::chrono::steady_clock;
    // How often the asker looks whether the ASIO thread is stalled.
    constexpr std::chrono::milliseconds look{10};
    std::optional<Clock::time_point> stalledSince;
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, look, [this] { return taken_; })) {
        if (!stalled()) {
            stalledSince.reset();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (!stalledSince)
            stalledSince = now;
        else if (now - *stalledSince >= patience) {
            givenUp_ = true;
            *stream = nullptr;
            return false;
        }
    }
    changed_.wait(lock, [this] { return done_; });
    *stream = stream_;
    return true;
}

} // namespace audio::asio
