#include "audio/aes67/RtpPacket.h"
#include "audio/aes67/FrameRing.h"

#include <QtEndian>
#include <cmath>

namespace audio::aes67 {

namespace {

constexpr float fullScale = 8388608.0f; // 2^23

qint32 toL24(float sample)
{
    if (!std::isfinite(sample))
        return 0;
    const float scaled = std::nearbyint(sample * fullScale);
    if (scaled >= fullScale)
        return 8388607;
    if (scaled <= -fullScale)
        return -8388608;
    return qint32(scaled);
}

} // namespace

int writeRtpPacket(char *out, const RtpHeader &header, const float *ringFrames, int frameCount,
                   int channels, int validChannels)
{
    out[0] = char(0x80); // version 2, no padding, no extension, no CSRC
    out[1] = char(streamPayloadType);
    qToBigEndian(header.sequence, out + 2);
    qToBigEndian(header.timestamp, out + 4);
    qToBigEndian(header.ssrc, out + 8);
    char *p = out + rtpHeaderBytes;
    for (int f = 0; f < frameCount; ++f) {
        const float *frame = ringFrames + f * FrameRing::slotsPerFrame;
        for (int c = 0; c < channels; ++c) {
            const qint32 v = c < validChannels ? toL24(frame[c]) : 0;
            p[0] = char(v >> 16);
            p[1] = char(v >> 8);
            p[2] = char(v);
            p += l24Bytes;
        }
    }
    return int(p - out);
}

quint32 rtpTimestampAt(qint64 ns)
{
    constexpr qint64 second = 1'000'000'000;
    const qint64 seconds = ns / second, rest = ns % second;
    return quint32(quint64(seconds * streamSampleRate + rest * streamSampleRate / second));
}

} // namespace audio::aes67
