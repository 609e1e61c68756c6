#include "audio/aes67/PtpMessage.h"

#include <QtEndian>
#include <cstring>

namespace audio::aes67::ptp {

namespace {

constexpr int headerBytes = 34;
constexpr int timestampedBytes = 44; // Sync, Delay_Req, Follow_Up
constexpr int delayRespBytes = 54;
constexpr int announceBytes = 64;

template<typename T>
T read(const QByteArray &data, int offset)
{
    return qFromBigEndian<T>(data.constData() + offset);
}

Timestamp readTimestamp(const QByteArray &data, int offset)
{
    const quint64 seconds
            = quint64(read<quint16>(data, offset)) << 32 | read<quint32>(data, offset + 2);
    return {seconds, read<quint32>(data, offset + 6)};
}

PortIdentity readPortIdentity(const QByteArray &data, int offset)
{
    return {data.mid(offset, 8), read<quint16>(data, offset + 8)};
}

AnnounceFields readAnnounce(const QByteArray &data)
{
    AnnounceFields a;
    a.currentUtcOffset = read<qint16>(data, 44);
    a.priority1 = quint8(data.at(47));
    a.clockClass = quint8(data.at(48));
    a.clockAccuracy = quint8(data.at(49));
    a.offsetScaledLogVariance = read<quint16>(data, 50);
    a.priority2 = quint8(data.at(52));
    a.grandmasterIdentity = data.mid(53, 8);
    a.stepsRemoved = read<quint16>(data, 61);
    a.timeSource = quint8(data.at(63));
    return a;
}

bool timeIsUsed(quint8 type)
{
    return type == Sync || type == DelayReq || type == FollowUp || type == DelayResp;
}

int minimumLength(quint8 type)
{
    switch (type) {
    case Sync:
    case DelayReq:
    case FollowUp:
        return timestampedBytes;
    case DelayResp:
        return delayRespBytes;
    case Announce:
        return announceBytes;
    default:
        return headerBytes;
    }
}

} // namespace

bool parseMessage(const QByteArray &data, Message &m)
{
    m = Message();
    if (data.size() < headerBytes)
        return false;
    m.messageType = quint8(data.at(0)) & 0x0F;
    m.versionPTP = quint8(data.at(1)) & 0x0F;
    m.messageLength = read<quint16>(data, 2);
    if (m.versionPTP != 2 || m.messageLength > data.size())
        return false;
    m.domainNumber = quint8(data.at(4));
    m.flagField = read<quint16>(data, 6);
    m.correctionField = read<qint64>(data, 8);
    m.sourcePortIdentity = readPortIdentity(data, 20);
    m.sequenceId = read<quint16>(data, 30);
    m.controlField = quint8(data.at(32));
    m.logMessageInterval = qint8(data.at(33));
    if (m.messageLength < minimumLength(m.messageType))
        return false;
    if (m.messageLength >= timestampedBytes)
        m.timestamp = readTimestamp(data, 34);
    if (timeIsUsed(m.messageType)) {
        const std::optional<qint64> ns = timestampNs(m.timestamp);
        if (!ns || qAbs(m.correctionNs()) > maxRealCorrectionNs)
            return false;
        m.timeNs = *ns;
    }
    if (m.messageType == DelayResp)
        m.requestingPortIdentity = readPortIdentity(data, 44);
    if (m.messageType == Announce) {
        m.announce = readAnnounce(data);
        m.hasAnnounce = true;
    }
    return true;
}

QByteArray buildDelayReq(const PortIdentity &source, quint8 domain, quint16 sequenceId)
{
    QByteArray packet(timestampedBytes, '\0');
    char *p = packet.data();
    p[0] = char(DelayReq);
    p[1] = 2;
    qToBigEndian(quint16(timestampedBytes), p + 2);
    p[4] = char(domain);
    memcpy(p + 20, source.clockIdentity.constData(), 8);
    qToBigEndian(source.portNumber, p + 28);
    qToBigEndian(sequenceId, p + 30);
    p[32] = 1; // controlField of a Delay_Req
    p[33] = char(0x7F); // logMessageInterval: not used in a request
    return packet;
}

std::optional<qint64> timestampNs(const Timestamp &t)
{
    if (t.seconds > maxRealSeconds || t.nanoseconds >= 1'000'000'000)
        return std::nullopt;
    return qint64(t.seconds) * 1'000'000'000 + qint64(t.nanoseconds);
}

QString clockIdentityToString(const QByteArray &identity)
{
    if (identity.size() != 8)
        return QString();
    return QString::fromLatin1(identity.toHex('-').toUpper());
}

} // namespace audio::aes67::ptp
