#include "audio/aes67/SapPacket.h"

#include <QtEndian>

namespace audio::aes67 {

namespace {

// Flags byte: version 1 in bits 7-5; A (bit 4) 0 for an IPv4 origin; R (bit 3) reserved;
// T (bit 2) deletion; E (bit 1) encrypted; C (bit 0) compressed.
constexpr quint8 versionMask = 0xE0;
constexpr quint8 version1 = 0x20;
constexpr quint8 ipv6Origin = 0x10;
constexpr quint8 deletionBit = 0x04;
constexpr quint8 encryptedOrCompressed = 0x03;
constexpr int headerBytes = 8;

const QByteArray sdpMimeType = QByteArrayLiteral("application/sdp");
const QByteArray sdpStart = QByteArrayLiteral("v=0");

} // namespace

QByteArray buildSapPacket(bool deletion, quint16 messageHash, const QHostAddress &origin,
                          const QByteArray &sdp)
{
    QByteArray packet(headerBytes, '\0');
    packet[0] = char(version1 | (deletion ? deletionBit : 0));
    qToBigEndian(messageHash, packet.data() + 2);
    qToBigEndian(origin.toIPv4Address(), packet.data() + 4);
    packet += sdpMimeType;
    packet += '\0';
    packet += sdp;
    return packet;
}

SapPacket parseSapPacket(const QByteArray &datagram)
{
    SapPacket packet;
    if (datagram.size() < headerBytes)
        return packet;
    const auto flags = quint8(datagram.at(0));
    if ((flags & versionMask) != version1 || (flags & ipv6Origin)
        || (flags & encryptedOrCompressed))
        return packet;
    const qsizetype header = headerBytes + 4 * quint8(datagram.at(1));
    if (datagram.size() < header)
        return packet;
    const QByteArray payload = datagram.mid(header);
    if (payload.isEmpty())
        return packet;
    if (payload.startsWith(sdpStart)) {
        packet.sdp = payload;
    } else {
        const qsizetype zero = payload.indexOf('\0');
        if (zero < 0 || payload.left(zero) != sdpMimeType)
            return packet;
        packet.sdp = payload.mid(zero + 1);
        if (!packet.sdp.startsWith(sdpStart))
            return packet;
    }
    packet.deletion = flags & deletionBit;
    packet.messageHash = qFromBigEndian<quint16>(datagram.constData() + 2);
    if (const auto origin = qFromBigEndian<quint32>(datagram.constData() + 4))
        packet.origin = QHostAddress(origin); // 0.0.0.0 stays a null address
    packet.valid = true;
    return packet;
}

quint16 sdpChecksum(const QByteArray &sdp)
{
    return qChecksum(sdp, Qt::ChecksumIso3309);
}

} // namespace audio::aes67
