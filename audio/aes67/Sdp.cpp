#include "audio/aes67/Sdp.h"

#include <QRandomGenerator>

namespace audio::aes67 {

namespace {

void readRtpmap(Aes67StreamInfo &info, const QString &value)
{
    // "rtpmap:<pt> <encoding>/<rate>[/<channels>]"
    const int colon = value.indexOf(QLatin1Char(':'));
    const int blank = value.indexOf(QLatin1Char(' '), colon + 1);
    const QString type = value.mid(colon + 1, blank < 0 ? -1 : blank - colon - 1);
    if (!info.encoding.isEmpty() && type.toInt() != info.payloadType)
        return;
    const QStringList parameters
            = blank < 0 ? QStringList() : value.mid(blank + 1).split(QLatin1Char('/'));
    info.encoding = parameters.value(0);
    info.sampleRate = parameters.value(1).toInt();
    info.channels = parameters.size() > 2 ? parameters.at(2).toInt() : 1;
}

void readAttribute(Aes67StreamInfo &info, const QString &value)
{
    static const QStringList directions = {"sendonly", "recvonly", "sendrecv", "inactive"};
    if (value.startsWith(QLatin1String("rtpmap:")))
        readRtpmap(info, value);
    else if (value.startsWith(QLatin1String("ptime:")))
        info.ptime = value.mid(6).toFloat();
    else if (value.startsWith(QLatin1String("ts-refclk:")))
        info.tsRefclk = value.mid(10);
    else if (value.startsWith(QLatin1String("mediaclk:")))
        info.mediaclk = value.mid(9);
    else if (directions.contains(value))
        info.direction = value;
}

void readLine(Aes67StreamInfo &info, QChar type, const QString &value)
{
    const QStringList words = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    switch (type.toLatin1()) {
    case 's':
        if (info.sessionName.isEmpty())
            info.sessionName = value;
        break;
    case 'o':
        if (words.size() >= 6)
            info.originAddress = words.at(5);
        break;
    case 'c':
        if (info.connectionAddress.isNull() && words.size() >= 3 && words.at(1) == "IP4") {
            const QStringList parts = words.at(2).split(QLatin1Char('/'));
            info.connectionAddress = QHostAddress(parts.at(0));
            if (parts.size() > 1)
                info.ttl = parts.at(1).toInt();
        }
        break;
    case 'm':
        if (words.size() >= 4 && words.at(0) == "audio") {
            info.port = quint16(words.at(1).toUInt());
            info.payloadType = words.at(3).toInt();
            info.hasAudio = true;
        }
        break;
    case 'a':
        readAttribute(info, value);
        break;
    default:
        break;
    }
}

} // namespace

QString buildSdp(const StreamDescription &d)
{
    const quint32 sessionId
            = d.sessionId ? d.sessionId : QRandomGenerator::global()->bounded(2147483648u);
    const QString refclk = d.grandmasterIdentity.isEmpty()
                                   ? QStringLiteral("ptp=traceable")
                                   : QStringLiteral("ptp=IEEE1588-2008:%1:%2")
                                             .arg(d.grandmasterIdentity)
                                             .arg(d.domain);
    const QStringList lines = {
            QStringLiteral("v=0"),
            QStringLiteral("o=- %1 %2 IN IP4 %3")
                    .arg(sessionId)
                    .arg(d.sessionVersion)
                    .arg(d.sourceAddress.toString()),
            QStringLiteral("s=%1").arg(d.sessionName),
            QStringLiteral("c=IN IP4 %1/32").arg(d.destinationAddress.toString()),
            QStringLiteral("t=0 0"),
            QStringLiteral("m=audio %1 RTP/AVP %2").arg(d.port).arg(d.payloadType),
            QStringLiteral("a=sendonly"),
            QStringLiteral("a=rtpmap:%1 L24/%2/%3")
                    .arg(d.payloadType)
                    .arg(d.sampleRate)
                    .arg(d.channels),
            QStringLiteral("a=ptime:1"),
            QStringLiteral("a=ts-refclk:") + refclk,
            QStringLiteral("a=mediaclk:direct=0"),
    };
    return lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
}

Aes67StreamInfo parseSdp(const QString &text)
{
    Aes67StreamInfo info;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.size() < 2 || line.at(1) != QLatin1Char('='))
            continue;
        readLine(info, line.at(0), line.mid(2));
    }
    return info;
}

void assignSdpFields(Aes67StreamInfo &to, const Aes67StreamInfo &from)
{
    to.sessionName = from.sessionName;
    to.originAddress = from.originAddress;
    to.connectionAddress = from.connectionAddress;
    to.ttl = from.ttl;
    to.port = from.port;
    to.payloadType = from.payloadType;
    to.encoding = from.encoding;
    to.sampleRate = from.sampleRate;
    to.channels = from.channels;
    to.ptime = from.ptime;
    to.direction = from.direction;
    to.tsRefclk = from.tsRefclk;
    to.mediaclk = from.mediaclk;
    to.hasAudio = from.hasAudio;
}

} // namespace audio::aes67
