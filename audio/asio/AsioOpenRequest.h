#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace audio {

class Stream;

namespace asio {

// An open that another thread asks of the ASIO thread. The asker waits only a short while for
// the ASIO thread to take it up: that thread may be busy for seconds with a driver that is going
// away. Once taken, the open runs to its end and the asker waits for it (a driver start fails
// fast). A request given up before it was taken is never carried out, so the asker's device is
// never touched after it left.
class OpenRequest
{
public:
    // ASIO thread: false when the asker has given up; the open must not run then.
    bool take();
    // ASIO thread: the open's outcome (null on failure).
    void finish(Stream *stream);
    // The asker: the stream, or null when the open failed. False when the ASIO thread did not
    // take the request within `pickUp`; the request is given up then.
    bool await(std::chrono::milliseconds pickUp, Stream **stream);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool taken_ = false;
    bool givenUp_ = false;
    bool done_ = false;
    Stream *stream_ = nullptr;
};

} // namespace asio
} // namespace audio
