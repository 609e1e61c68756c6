#include "engine/tf/StreamAnchor.h"

void AnchorSlot::reset()
{
    latest_.reset();
    lastRead_.reset();
}

void AnchorSlot::takeBlock(uint64_t firstIndex)
{
    if (const audio::StreamTiming *timing = audio::currentStreamTiming())
        latest_.store(StreamAnchor{firstIndex, *timing});
}

void AnchorSlot::takeSample(uint64_t index)
{
    const audio::StreamTiming *timing = audio::currentStreamTiming();
    if (!timing)
        return;
    if (lastRead_ && *lastRead_ != timing->at)
        latest_.store(StreamAnchor{index, *timing});
    lastRead_ = timing->at;
}
