#include "engine/tf/generator/ChannelMask.h"

void ChannelMask::store(const QSet<int> &channels)
{
    Bits bits{};
    for (const int channel : channels)
        if (channel >= 0 && channel < capacity)
            bits[std::size_t(channel / 64)] |= uint64_t(1) << (channel % 64);
    for (std::size_t w = 0; w < bits.size(); ++w)
        words_[w].store(bits[w], std::memory_order_relaxed);
}

ChannelMask::Bits ChannelMask::load() const
{
    Bits bits{};
    for (std::size_t w = 0; w < bits.size(); ++w)
        bits[w] = words_[w].load(std::memory_order_relaxed);
    return bits;
}
