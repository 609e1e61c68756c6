#pragma once

#include "audio/aes67/Identifiers.h"

#include <QHostAddress>
#include <QString>

namespace audio::aes67 {

// What the sender streams and announces: L24 at 48 kHz to `destination`:`port` in `channels`
// channels (the first of the generator's eight), with the hop limit `ttl` on RTP and SAP.
struct SenderConfig
{
    QString sessionName = QLatin1String(defaultSessionName);
    QHostAddress destination = QHostAddress(QLatin1String(defaultDestination));
    quint16 port = defaultRtpPort;
    int channels = defaultChannels;
    QHostAddress sourceAddress; // the local address of the running stream; null while stopped
    int ttl = defaultTtl;
};

} // namespace audio::aes67
