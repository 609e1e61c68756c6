#include "platform/asio/BufferHalves.h"

namespace platform::asio {

void BufferHalves::assign(BufferInfo *info, SampleType type, int frames)
{
    const std::size_t bytes = std::size_t(frames) * std::size_t(bytesPerSample(type));
    for (void *&half : info->halves) {
        storage_.emplace_back(bytes);
        half = storage_.back().data();
    }
}

} // namespace platform::asio
