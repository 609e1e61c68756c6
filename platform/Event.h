#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// An auto-reset event: set() lets exactly one wait() through (or the next one, when nobody
// waits yet); sets that arrive while it is already set coalesce into one.
class Event
{
public:
    void set();
    // True when the event was set within timeoutMs; the event is then reset again.
    bool wait(int timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

} // namespace platform
