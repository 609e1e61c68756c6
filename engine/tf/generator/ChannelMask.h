#pragma once

#include <QSet>
#include <array>
#include <atomic>
#include <cstdint>

// The output channels that carry the test signal, as the render thread reads them once per
// block: a bit per channel in atomic words, stored whole by whoever sets the channels. A block
// that reads while a new set is stored may get part of each; the next block gets the new set.
class ChannelMask
{
public:
    // More than any device has: a driver with more than 192 channels is listed without any.
    static constexpr int capacity = 256;
    using Bits = std::array<uint64_t, capacity / 64>;

    // Channels outside 0 … capacity − 1 are left out.
    void store(const QSet<int> &channels);
    Bits load() const;
    static bool contains(const Bits &bits, int channel)
    {
        return channel >= 0 && channel < capacity
               && (bits[std::size_t(channel / 64)] >> (channel % 64) & 1u) != 0;
    }

private:
    std::array<std::atomic<uint64_t>, capacity / 64> words_{};
};
