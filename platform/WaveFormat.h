#pragma once

#include <cstdint>

namespace platform {

// The description of an interleaved sample stream as the audio engine exchanges it. A plain
// format describes integer PCM (tag 1) or 32-bit float (tag 3); an extensible format (tag
// 0xFFFE) adds the valid bits, the speaker mask and the sample kind.
struct WaveFormat
{
    enum Tag : uint16_t { Pcm = 1, IeeeFloat = 3, Extensible = 0xFFFE };
    enum class SubFormat : uint8_t { Pcm, IeeeFloat };
    // Size of the extension that follows a plain format in an extensible one, in bytes.
    static constexpr uint16_t extensibleExtraSize = 22;

    uint16_t formatTag = Pcm;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
    // Meaningful only for the extensible tag.
    uint16_t validBitsPerSample = 0;
    uint32_t channelMask = 0;
    SubFormat subFormat = SubFormat::Pcm;

    bool isFloat32() const
    {
        const bool floatKind = formatTag == IeeeFloat
                               || (formatTag == Extensible && subFormat == SubFormat::IeeeFloat);
        return floatKind && bitsPerSample == 32;
    }

    // An extensible 32-bit float format, the shape the shared engine mixes in.
    static WaveFormat extensibleFloat(uint32_t rate, uint16_t channels)
    {
        WaveFormat f;
        f.formatTag = Extensible;
        f.channels = channels;
        f.samplesPerSec = rate;
        f.bitsPerSample = 32;
        f.blockAlign = uint16_t(channels * 4);
        f.avgBytesPerSec = rate * channels * 4;
        f.extraSize = extensibleExtraSize;
        f.validBitsPerSample = 32;
        f.channelMask = channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1u;
        f.subFormat = SubFormat::IeeeFloat;
        return f;
    }

    friend bool operator==(const WaveFormat &, const WaveFormat &) = default;
};

} // namespace platform
