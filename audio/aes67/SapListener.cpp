#include "audio/aes67/SapListener.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
#include "audio/aes67/SapPacket.h"
#include "audio/aes67/Sdp.h"
#include "common/MainThread.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace audio::aes67 {

namespace {

const QList<QHostAddress> sapGroups = {QHostAddress(QLatin1String(sapGroupGlobal)),
                                       QHostAddress(QLatin1String(sapGroupAdministered))};

bool sameStream(const Aes67StreamInfo &a, const Aes67StreamInfo &b)
{
    return a.sessionName == b.sessionName && a.connectionAddress == b.connectionAddress
           && a.port == b.port && a.encoding == b.encoding && a.sampleRate == b.sampleRate
           && a.channels == b.channels;
}

} // namespace

SapListener *SapListener::instance()
{
    static SapListener listener;
    return &listener;
}

SapListener::SapListener()
{
    registerMetaTypes();
    snt::moveToMainThread(this);
}

SapListener::~SapListener()
{
    stop();
}

bool SapListener::start(const QNetworkInterface &interface)
{
    stop();
    QString error;
    socket_ = openGroupReceiver(sapPort, sapGroups, interface, this, &error);
    if (!socket_) {
        emit errorOccurred(QStringLiteral("SAP: %1").arg(error));
        return false;
    }
    interface_ = interface;
    connect(socket_, &QUdpSocket::readyRead, this, &SapListener::onReadyRead);
    return true;
}

void SapListener::stop()
{
    if (!socket_)
        return;
    for (const QHostAddress &group : sapGroups)
        socket_->leaveMulticastGroup(group, interface_);
    socket_->close();
    delete socket_;
    socket_ = nullptr;
}

void SapListener::onReadyRead()
{
    while (socket_ && socket_->hasPendingDatagrams()) {
        const SapPacket packet = parseSapPacket(socket_->receiveDatagram().data());
        if (packet.valid)
            handlePacket(packet, QDateTime::currentMSecsSinceEpoch());
    }
}

void SapListener::handlePacket(const SapPacket &packet, qint64 nowMs)
{
    if (packet.origin.isNull())
        return;
    const quint16 hash = packet.messageHash ? packet.messageHash : sdpChecksum(packet.sdp);
    const QString key = QStringLiteral("%1@%2").arg(hash).arg(packet.origin.toString());
    const auto known = streams_.find(key);
    if (packet.deletion) {
        if (known != streams_.end()) {
            const Aes67StreamInfo removed = *known;
            streams_.erase(known);
            emit streamRemoved(removed);
        }
        return;
    }
    const Aes67StreamInfo parsed = parseSdp(QString::fromUtf8(packet.sdp));
    if (known == streams_.end()) {
        Aes67StreamInfo info = parsed;
        info.key = key;
        info.messageHash = packet.messageHash;
        info.origin = packet.origin;
        info.sdp = packet.sdp;
        info.firstSeenMs = info.lastSeenMs = nowMs;
        streams_.insert(key, info);
        emit streamAppeared(info);
        return;
    }
    known->lastSeenMs = nowMs;
    if (sameStream(*known, parsed))
        return;
    assignSdpFields(*known, parsed);
    known->sdp = packet.sdp;
    emit streamUpdated(*known);
}

} // namespace audio::aes67
