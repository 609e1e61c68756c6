#include "audio/StreamTiming.h"

namespace audio {

namespace {
thread_local const StreamTiming *current = nullptr;
} // namespace

const StreamTiming *currentStreamTiming()
{
    return current;
}

StreamTimingScope::StreamTimingScope(int64_t latencyFrames,
                                     std::chrono::steady_clock::time_point at)
    : timing_{at, latencyFrames}
    , outer_(current)
{
    current = &timing_;
}

StreamTimingScope::~StreamTimingScope()
{
    current = outer_;
}

} // namespace audio
