#include "audio/StreamTiming.h"

namespace audio {

namespace {
thread_local const StreamTiming *current = nullptr;
} // namespace

const StreamTiming *currentStreamTiming()
{
    return current;
}

StreamTimingScope::StreamTimingScope(const StreamTiming &timing)
    : timing_(timing)
    , outer_(current)
{
    current = &timing_;
}

StreamTimingScope::~StreamTimingScope()
{
    current = outer_;
}

} // namespace audio
