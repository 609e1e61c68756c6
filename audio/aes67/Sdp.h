#pragma once

#include "audio/aes67/Types.h"

#include <QString>

namespace audio::aes67 {

// The SDP of the own stream: eleven CR LF lines, L24 with a 1 ms packet time and the clock
// reference the PTP clock filled in. A session id of 0 writes a fresh random one.
QString buildSdp(const StreamDescription &description);

// Reads the SDP fields of a discovered stream (session name through hasAudio); every other field
// of the result keeps its default. Unknown and malformed lines are skipped.
Aes67StreamInfo parseSdp(const QString &text);

// Copies the fields parseSdp() fills from `from` into `to`.
void assignSdpFields(Aes67StreamInfo &to, const Aes67StreamInfo &from);

} // namespace audio::aes67
