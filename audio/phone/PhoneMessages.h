#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace audio {

// What a phone sends the phone-audio server: a JSON hello as its first text message, then
// binary audio frames of an 18-byte little-endian header ("QK", seq, sampleIndex, sampleCount)
// and sampleCount signed 16-bit mono samples.

// The rate of a phone that names none.
inline constexpr quint32 phoneDefaultSampleRate = 48000;

// An audio frame's header, and the most samples a frame may carry.
inline constexpr qint64 phoneFrameHeaderSize = 18;
inline constexpr quint32 phoneMaxFrameSamples = 0x100000;

// The largest message the server takes from a phone, which bounds what one connection can make
// it hold while a message is still arriving. Before its hello a phone sends nothing but the hello:
// a JSON object of a type, an id, a name and a rate, a few hundred bytes, so 64 KiB is far above
// it.
inline constexpr quint64 phoneHelloLimitBytes = 64 * 1024;
// After it, audio frames: the largest the format allows is the header and 0x100000 samples of
// two bytes, 18 + 2 × 1048576 = 2,097,170 bytes (over 5 s of audio even at 192 kHz, where a
// phone sends a few milliseconds a frame). Twice that still takes such a frame with the bytes
// after its samples that the format lets a frame carry.
inline constexpr quint64 phoneFrameLimitBytes
        = 2 * (quint64(phoneFrameHeaderSize) + 2 * quint64(phoneMaxFrameSamples));

struct PhoneHello
{
    QString id;
    QString name; // trimmed, "Phone" when empty, at most 64 characters
    quint32 sampleRate = phoneDefaultSampleRate; // limited to 8000 .. 192000
};

// False unless the text is a JSON object of "type" "audio-hello" with a non-empty "id".
bool parsePhoneHello(const QString &text, PhoneHello &hello);

struct PhoneFrame
{
    quint32 seq = 0;
    quint64 sampleIndex = 0;
    quint32 sampleCount = 0;
    const char *samples = nullptr; // into the message, 2 × sampleCount bytes
};

enum class PhoneFrameCheck {
    Ok,
    BadMagic, // shorter than a header, or not starting "QK"
    Malformed, // too many samples, fewer bytes than they need, or an index near 2^63
};

// Reads the frame's header; on Ok, `frame.samples` points into `message`.
PhoneFrameCheck parsePhoneFrame(const QByteArray &message, PhoneFrame &frame);

// The sample of a frame at `i`, as a float (× 1/32768).
float phoneSample(const PhoneFrame &frame, quint32 i);

} // namespace audio
