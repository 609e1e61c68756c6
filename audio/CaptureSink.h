#pragma once

#include <QtGlobal>
#include <span>

namespace audio {

// Where the recording front end hands what it records: the measurement's input, bound when the
// front end is made. Called on the capture thread, blocks and losses in the order they happened;
// the views are valid for the call only. Must neither block nor allocate.
class CaptureSink
{
public:
    virtual ~CaptureSink() = default;

    // One block: the measurement channel and the reference channel, of equal length.
    virtual void captured(std::span<const float> data, std::span<const float> reference) = 0;
    // The capture lost `frames` frames (-1: nobody can tell how many) before the next block.
    virtual void captureLost(qint64 frames) = 0;
};

} // namespace audio
