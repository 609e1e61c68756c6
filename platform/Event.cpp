#include "platform/Event.h"

#include "common/RealTime.h"

#include <chrono>

namespace platform {

void Event::set()
{
    {
        const realtime::Lock lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

bool Event::wait(int timeoutMs)
{
    realtime::lock(mutex_);
    std::unique_lock lock(mutex_, std::adopt_lock);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

} // namespace platform
