#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace audio {

class Stream;

namespace asio {

// An open that another thread asks of the ASIO thread. The asker waits for the ASIO thread's
// work to end (a probe of every driver, a period's hand-off, another open): that work ends, and an
// open given up behind it would fail a healthy card. It gives up only while the ASIO thread is
// letting go of a driver that asked to be reset: a sound server that is shutting down can keep
// that up for seconds, and the asker is often the GUI thread. A request given up before it was
// taken is never carried out, so the asker's device is never touched after it left.
class OpenRequest
{
public:
    // ASIO thread: false when the asker has given up; the open must not run then.
    bool take();
    // ASIO thread: the open's outcome (null on failure).
    void finish(Stream *stream);
    // The asker: the stream, or null when the open failed. False when `stalled()` held for
    // `patience` on end while the request waited to be taken; the request is given up then.
    bool await(const std::function<bool()> &stalled, std::chrono::milliseconds patience,
               Stream **stream);

private:
    // The asker, holding the lock: whether the request is taken within one look.
    bool takenWithinALook(std::unique_lock<std::mutex> &lock);
    // The asker, at a look that found the ASIO thread stalled: true when it stays stalled, the
    // request untaken, for `patience` from this look on.
    bool stallOutlasts(std::unique_lock<std::mutex> &lock, const std::function<bool()> &stalled,
                       std::chrono::milliseconds patience);

    std::mutex mutex_;
    std::condition_variable changed_;
    bool taken_ = false;
    bool givenUp_ = false;
    bool done_ = false;
    Stream *stream_ = nullptr;
};

} // namespace asio
} // namespace audio
