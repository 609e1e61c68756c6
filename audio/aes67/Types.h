#pragma once

#include "audio/aes67/Identifiers.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPair>
#include <QString>

namespace audio::aes67 {

// One stream discovered by SAP, as the listener reports it.
struct Aes67StreamInfo
{
    QString key; // "<hash>@<origin>"; the hash is the SDP's checksum when SAP sent 0
    int messageHash = 0; // as received, 0 allowed
    QHostAddress origin;
    QString sessionName;
    QString originAddress;
    QHostAddress connectionAddress;
    int ttl = 0;
    quint16 port = 0;
    int payloadType = -1;
    QString encoding;
    int sampleRate = 0;
    int channels = 0;
    float ptime = 0.0f;
    QString direction = QStringLiteral("sendrecv");
    QString tsRefclk;
    QString mediaclk;
    bool hasAudio = false;
    QByteArray sdp;
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
};

// One wish to route a stream to a device.
struct RouteSubscription
{
    enum State : qint32 { Idle = 0, Connecting = 1, Connected = 2, Failed = 3 };

    QString id; // streamKey + "|" + deviceKey when formed from them
    QString streamKey;
    QString deviceKey;
    QString streamName;
    QString streamOrigin;
    QByteArray sdpText;
    QString deviceName;
    QString deviceHost;
    quint16 deviceRtspPort = 0;
    qint32 state = Idle;
    QString lastError;
    bool pendingRestore = false;

    static QString makeId(const QString &streamKey, const QString &deviceKey)
    {
        return streamKey + QLatin1Char('|') + deviceKey;
    }
};

// Subscriptions by id, in id order.
using RouteTable = QMap<QString, RouteSubscription>;

// One device found by mDNS.
struct MdnsDevice
{
    QString key; // the service instance name
    QString host; // IPv4 address text
    quint16 port = 0;
    QString serviceType;
    QMap<QString, QString> txt;
};

namespace rtsp {

using Headers = QList<QPair<QString, QString>>;

struct Request
{
    Headers headers;
    QByteArray body;
    QString method;
    QString url;
    qint32 cseq = 0; // 0: none
};

struct Response
{
    Headers headers;
    QByteArray body;
    qint32 statusCode = 0;
    QString reason;
};

} // namespace rtsp

// What the SDP writer describes: the own stream, with the clock fields the PTP clock fills.
struct StreamDescription
{
    QString sessionName = QLatin1String(defaultSessionName);
    QHostAddress sourceAddress;
    QHostAddress destinationAddress;
    quint16 port = defaultRtpPort;
    qint32 channels = defaultChannels;
    qint32 sampleRate = streamSampleRate;
    quint8 payloadType = streamPayloadType;
    quint32 sessionId = 0; // 0: the writer picks a random one
    qint32 sessionVersion = 1;
    QString grandmasterIdentity;
    qint32 domain = 0;
};

// Registers the value types that travel in queued signals, under their qualified names.
void registerMetaTypes();

} // namespace audio::aes67

Q_DECLARE_METATYPE(audio::aes67::Aes67StreamInfo)
Q_DECLARE_METATYPE(audio::aes67::RouteSubscription)
Q_DECLARE_METATYPE(audio::aes67::MdnsDevice)
Q_DECLARE_METATYPE(audio::aes67::rtsp::Response)
