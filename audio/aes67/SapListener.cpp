#include "audio/aes67/SapListener.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
#include "audio/aes67/SapPacket.h"
#include "audio/aes67/Sdp.h"
#include "common/Log.h"
#include "common/MainThread.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace audio::aes67 {

namespace {

const QList<QHostAddress> sapGroups = {QHostAddress(QLatin1String(sapGroupGlobal)),
                                       QHostAddress(QLatin1String(sapGroupAdministered))};
constexpr char tag[] = "[SapListener]";
constexpr int expiryIntervalMs = 1000;
// A stream times out after this many of its announcement intervals without an announcement.
constexpr qint64 intervalsToTimeout = 10;
// Announcements closer together than this are one announcement sent to both groups, not an
// interval.
constexpr qint64 shortestIntervalMs = 1000;

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
    expiryTimer_ = new QTimer(this);
    connect(expiryTimer_, &QTimer::timeout, this,
            [this] { expire(QDateTime::currentMSecsSinceEpoch()); });
    expiryTimer_->start(expiryIntervalMs);
    return true;
}

void SapListener::stop()
{
    delete expiryTimer_;
    expiryTimer_ = nullptr;
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

QList<Aes67StreamInfo> SapListener::streams() const
{
    QList<Aes67StreamInfo> list;
    list.reserve(streams_.size());
    for (const Session &session : streams_)
        list.append(session.info);
    return list;
}

void SapListener::handlePacket(const SapPacket &packet, qint64 nowMs)
{
    if (packet.origin.isNull())
        return;
    const quint16 hash = packet.messageHash ? packet.messageHash : sdpChecksum(packet.sdp);
    const QString key = QStringLiteral("%1@%2").arg(hash).arg(packet.origin.toString());
    const auto known = streams_.find(key);
    if (packet.deletion) {
        if (known != streams_.end())
            remove(key);
        return;
    }
    if (known == streams_.end()) {
        add(key, packet, nowMs);
        return;
    }
    Aes67StreamInfo &info = known->info;
    if (nowMs - info.lastSeenMs >= shortestIntervalMs)
        known->intervalMs = nowMs - info.lastSeenMs;
    info.lastSeenMs = nowMs;
    const Aes67StreamInfo parsed = parseSdp(QString::fromUtf8(packet.sdp));
    if (sameStream(info, parsed))
        return;
    assignSdpFields(info, parsed);
    info.sdp = packet.sdp;
    emit streamUpdated(info);
}

void SapListener::add(const QString &key, const SapPacket &packet, qint64 nowMs)
{
    limit_.makeRoom(
            streams_, [](const Session &s) { return s.info.lastSeenMs; },
            [this](const QString &oldest) { remove(oldest); });
    Aes67StreamInfo info = parseSdp(QString::fromUtf8(packet.sdp));
    info.key = key;
    info.messageHash = packet.messageHash;
    info.origin = packet.origin;
    info.sdp = packet.sdp;
    info.firstSeenMs = info.lastSeenMs = nowMs;
    streams_.insert(key, {info, 0});
    emit streamAppeared(info);
}

void SapListener::remove(const QString &key)
{
    const Aes67StreamInfo removed = streams_.take(key).info;
    emit streamRemoved(removed);
}

qint64 SapListener::timeoutMs(const Session &session)
{
    if (session.intervalMs == 0)
        return longestTimeoutMs;
    return std::min(session.intervalMs * intervalsToTimeout, longestTimeoutMs);
}

void SapListener::expire(qint64 nowMs)
{
    QStringList gone;
    for (auto it = streams_.cbegin(); it != streams_.cend(); ++it) {
        if (nowMs - it->info.lastSeenMs > timeoutMs(*it))
            gone.append(it.key());
    }
    for (const QString &key : std::as_const(gone)) {
        sntInfo(lcAes67, tag) << "stream" << key << "no longer announced, removed";
        remove(key);
    }
}

} // namespace audio::aes67
