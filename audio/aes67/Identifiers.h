#pragma once

#include <QtGlobal>

namespace audio::aes67 {

// A route whose stream key is this refers to the own sender rather than a stream found by SAP.
inline constexpr char ownSenderStreamKey[] = "local-sender";

// PTP event (Sync, Delay_Req) and general (Follow_Up, Delay_Resp, Announce) traffic.
inline constexpr char ptpGroup[] = "224.0.1.129";
inline constexpr quint16 ptpEventPort = 319;
inline constexpr quint16 ptpGeneralPort = 320;

// SAP announcements go to both groups; the listener joins both.
inline constexpr char sapGroupGlobal[] = "224.2.127.254";
inline constexpr char sapGroupAdministered[] = "239.255.255.255";
inline constexpr quint16 sapPort = 9875;

inline constexpr quint16 rtspDefaultPort = 8554;

inline constexpr char mdnsGroup[] = "224.0.0.251";
inline constexpr quint16 mdnsPort = 5353;
inline constexpr char rtspServiceType[] = "_rtsp._tcp";

// The stream the sender announces unless configured otherwise: L24 at 48 kHz, one packet per
// millisecond, payload type 96.
inline constexpr char defaultSessionName[] = "Pelmar";
inline constexpr char defaultDestination[] = "239.69.1.1";
inline constexpr quint16 defaultRtpPort = 5004;
inline constexpr int defaultChannels = 2;
inline constexpr int streamSampleRate = 48000;
inline constexpr quint8 streamPayloadType = 96;
inline constexpr int framesPerPacket = 48;
inline constexpr int defaultTtl = 32;

} // namespace audio::aes67
