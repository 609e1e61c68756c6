#pragma once

#include "audio/phone/PhoneSampleRing.h"

#include <QString>
#include <QtGlobal>

class QWebSocket;

namespace audio {

// One connected phone as the phone-audio server keeps it, from its handshake until it goes.
struct PhoneSession
{
    QWebSocket *socket = nullptr; // null once the connection is gone
    QString id;
    QString name;
    quint32 sampleRate = 48000;
    PhoneSampleRing ring;

    quint64 frames = 0;
    quint64 samples = 0;
    quint64 seqGaps = 0;
    quint64 sampleGaps = 0;
    quint64 bufferDropped = 0;

    quint32 lastSeq = 0;
    bool hasSeq = false;
    quint64 expectedSampleIndex = 0;
    bool hasExpectedSampleIndex = false;
    qint64 lastFrameTimeMs = 0; // ms since the epoch
};

// What the device list needs to know of a connected phone.
struct PhoneClientInfo
{
    QString id;
    QString name;
    quint32 sampleRate = 48000;
};

} // namespace audio
