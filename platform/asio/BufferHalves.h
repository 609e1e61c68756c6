#pragma once

#include "platform/asio/AsioTypes.h"

#include <cstddef>
#include <vector>

namespace platform::asio {

// The memory of the two halves of every channel, owned by the driver that created the buffers.
// Each half starts zeroed.
class BufferHalves
{
public:
    // Gives `info` two halves of `frames` samples of `type`.
    void assign(BufferInfo *info, SampleType type, int frames);
    void clear() { storage_.clear(); }

private:
    std::vector<std::vector<std::byte>> storage_;
};

} // namespace platform::asio
