#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace audio::aes67::ptp {

enum MessageType : quint8 {
    Sync = 0,
    DelayReq = 1,
    FollowUp = 8,
    DelayResp = 9,
    Announce = 11,
};

struct Timestamp
{
    quint64 seconds = 0; // 48 bits on the wire
    quint32 nanoseconds = 0;
};

// What a master can really send. Seconds past 2^32 (the year 2106 of the PTP epoch) and
// nanoseconds of 10^9 or more come from damaged or forged messages, and no transparent clock or
// path asymmetry corrects by a second. Within these bounds every sum and difference the clock
// forms of master times stays far inside 64-bit nanoseconds.
inline constexpr quint64 maxRealSeconds = 0xFFFF'FFFF;
inline constexpr qint64 maxRealCorrectionNs = 1'000'000'000;

struct PortIdentity
{
    QByteArray clockIdentity; // 8 bytes
    quint16 portNumber = 0;

    bool operator==(const PortIdentity &other) const = default;
};

// What an Announce tells about its grandmaster.
struct AnnounceFields
{
    qint16 currentUtcOffset = 0;
    quint8 priority1 = 0;
    quint8 clockClass = 0;
    quint8 clockAccuracy = 0;
    quint16 offsetScaledLogVariance = 0;
    quint8 priority2 = 0;
    QByteArray grandmasterIdentity;
    quint16 stepsRemoved = 0;
    quint8 timeSource = 0;
};

// One PTP version 2 message as read from a datagram; the fields a type does not carry stay zero.
struct Message
{
    quint8 messageType = 0;
    quint8 versionPTP = 2;
    quint16 messageLength = 0;
    quint8 domainNumber = 0;
    quint16 flagField = 0;
    qint64 correctionField = 0; // nanoseconds times 2^16
    PortIdentity sourcePortIdentity;
    quint16 sequenceId = 0;
    quint8 controlField = 0;
    qint8 logMessageInterval = 0;
    // originTimestamp (Sync, Delay_Req, Announce), preciseOriginTimestamp (Follow_Up) or
    // receiveTimestamp (Delay_Resp): they share the wire position.
    Timestamp timestamp;
    // The timestamp in nanoseconds since the PTP epoch, for the types whose time the clock uses
    // (Sync, Delay_Req, Follow_Up, Delay_Resp); 0 for the others.
    qint64 timeNs = 0;
    PortIdentity requestingPortIdentity; // Delay_Resp
    bool hasAnnounce = false;
    AnnounceFields announce;

    bool twoStep() const { return flagField & 0x0200; }
    // correctionField in whole nanoseconds.
    qint64 correctionNs() const { return correctionField >> 16; }
};

// False for datagrams shorter than a header, of another version, shorter than their stated
// length, or whose stated length is too short for their type, and for Sync, Delay_Req, Follow_Up
// and Delay_Resp whose timestamp or correction cannot be real. Unknown types parse as a header.
bool parseMessage(const QByteArray &datagram, Message &message);

// A Delay_Req from `source` in `domain`: 44 bytes, origin timestamp zero.
QByteArray buildDelayReq(const PortIdentity &source, quint8 domain, quint16 sequenceId);

// Seconds × 10^9 + nanoseconds; nothing for a timestamp that cannot be real.
std::optional<qint64> timestampNs(const Timestamp &t);

// "02-1D-C1-FF-FE-12-34-56"; empty unless exactly 8 bytes.
QString clockIdentityToString(const QByteArray &identity);

} // namespace audio::aes67::ptp
