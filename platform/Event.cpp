#include "platform/Event.h"

#include <chrono>

namespace platform {

void Event::set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

bool Event::wait(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

} // namespace platform
