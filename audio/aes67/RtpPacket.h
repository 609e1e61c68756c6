#pragma once

#include "audio/aes67/Identifiers.h"

#include <QtGlobal>

namespace audio::aes67 {

inline constexpr int rtpHeaderBytes = 12;
inline constexpr int l24Bytes = 3;
// One packet of 48 frames at the most channels the ring holds.
inline constexpr int maxRtpPacketBytes = rtpHeaderBytes + framesPerPacket * 8 * l24Bytes;

struct RtpHeader
{
    quint16 sequence = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0;
};

// Writes one RTP packet (version 2, payload type 96) of `frameCount` frames as big-endian 24-bit
// samples in `channels` channels, taking the first slots of each ring frame (8 floats). Channels
// from `validChannels` on were not written by the source and go out as silence; samples are
// clamped to full scale and a sample that is not finite becomes 0. Returns the packet's size.
int writeRtpPacket(char *out, const RtpHeader &header, const float *ringFrames, int frameCount,
                   int channels, int validChannels);

// The RTP media clock (48 kHz, wrapping at 2^32) at a time in nanoseconds.
quint32 rtpTimestampAt(qint64 ns);

} // namespace audio::aes67
