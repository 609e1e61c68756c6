#pragma once

#include <QMetaType>
#include <cstdint>

namespace audio {

// The shape of an interleaved 32-bit float stream. 48 kHz stereo wherever nothing better is known.
struct Format
{
    uint32_t sampleRate = 48000;
    uint32_t channelCount = 2;

    friend bool operator==(const Format &, const Format &) = default;
};

} // namespace audio

Q_DECLARE_METATYPE(audio::Format)
