#pragma once

#include <QByteArray>
#include <QHostAddress>

namespace audio::aes67 {

// One SAP datagram (session announcement or deletion) carrying SDP, with an IPv4 origin.
struct SapPacket
{
    bool deletion = false;
    quint16 messageHash = 0;
    QHostAddress origin;
    QByteArray sdp;
    bool valid = false;
};

// Version 1, IPv4 origin, no authentication, "application/sdp", a zero byte, then the SDP.
QByteArray buildSapPacket(bool deletion, quint16 messageHash, const QHostAddress &origin,
                          const QByteArray &sdp);

// Reads version 1 packets with an IPv4 origin, skipping authentication data; the reserved bit is
// ignored. Packets with an IPv6 origin, encryption or compression, and payloads that are not SDP
// (bare, or after "application/sdp" and a zero byte) come back invalid.
SapPacket parseSapPacket(const QByteArray &datagram);

// The key part a listener uses when the message id hash is 0: CRC-16 of ISO 3309 over the SDP.
quint16 sdpChecksum(const QByteArray &sdp);

} // namespace audio::aes67
