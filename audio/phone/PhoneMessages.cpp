#include "audio/phone/PhoneMessages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <algorithm>
#include <limits>

namespace audio {

namespace {

constexpr quint32 minSampleRate = 8000;
constexpr quint32 maxSampleRate = 192000;
constexpr qsizetype maxNameLength = 64;

QString helloName(const QJsonObject &hello)
{
    QString name = hello.value("name").toString().trimmed();
    if (name.isEmpty())
        name = QStringLiteral("Phone");
    return name.left(maxNameLength);
}

quint32 helloSampleRate(const QJsonObject &hello)
{
    // Taken as an unsigned 32-bit number, so -1 is a huge rate and ends up at the top limit.
    const auto rate = quint32(hello.value("sampleRate").toInteger(phoneDefaultSampleRate));
    return std::clamp(rate, minSampleRate, maxSampleRate);
}

} // namespace

bool parsePhoneHello(const QString &text, PhoneHello &hello)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject object = document.object();
    hello.id = object.value("id").toString();
    if (!document.isObject() || object.value("type").toString() != "audio-hello"
        || hello.id.isEmpty())
        return false;
    hello.name = helloName(object);
    hello.sampleRate = helloSampleRate(object);
    return true;
}

PhoneFrameCheck parsePhoneFrame(const QByteArray &message, PhoneFrame &frame)
{
    const char *data = message.constData();
    if (message.size() < phoneFrameHeaderSize || data[0] != 'Q' || data[1] != 'K')
        return PhoneFrameCheck::BadMagic;
    frame.seq = qFromLittleEndian<quint32>(data + 2);
    frame.sampleIndex = qFromLittleEndian<quint64>(data + 6);
    frame.sampleCount = qFromLittleEndian<quint32>(data + 14);
    frame.samples = data + phoneFrameHeaderSize;
    // Indices stay below 2^63 so that every reader can do its arithmetic in signed 64 bits.
    const quint64 lastIndexAllowed
            = quint64(std::numeric_limits<qint64>::max()) - frame.sampleCount;
    if (frame.sampleCount > phoneMaxFrameSamples
        || message.size() < phoneFrameHeaderSize + 2 * qint64(frame.sampleCount)
        || frame.sampleIndex > lastIndexAllowed)
        return PhoneFrameCheck::Malformed;
    return PhoneFrameCheck::Ok;
}

float phoneSample(const PhoneFrame &frame, quint32 i)
{
    return float(qFromLittleEndian<qint16>(frame.samples + 2 * i)) * (1.0f / 32768.0f);
}

} // namespace audio
