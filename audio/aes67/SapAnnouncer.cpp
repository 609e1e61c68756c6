#include "audio/aes67/SapAnnouncer.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
#include "audio/aes67/SapPacket.h"

#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>

namespace audio::aes67 {

SapAnnouncer::SapAnnouncer(QObject *parent)
    : QObject(parent)
{ }

SapAnnouncer::~SapAnnouncer()
{
    stop();
}

void SapAnnouncer::start(const QHostAddress &sourceAddress, const QNetworkInterface &interface,
                         const QByteArray &sdp)
{
    source_ = sourceAddress;
    interface_ = interface;
    sdp_ = sdp;
}

bool SapAnnouncer::open(int ttl)
{
    if (running_)
        return true;
    QString error;
    socket_ = openGroupSender(source_, interface_, ttl, this, &error);
    if (!socket_) {
        emit errorOccurred(QStringLiteral("SAP 公告发送失败: %1").arg(error));
        return false;
    }
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, &SapAnnouncer::announce);
    }
    running_ = true;
    announce();
    return true;
}

void SapAnnouncer::announce()
{
    if (!running_)
        return;
    if (!announced_.isEmpty() && announced_ != sdp_)
        send(true, announced_);
    send(false, sdp_);
    announced_ = sdp_;
    timer_->start(4000 + int(QRandomGenerator::global()->bounded(1001)));
}

void SapAnnouncer::stop()
{
    if (!running_)
        return;
    running_ = false;
    timer_->stop();
    const QByteArray last = announced_.isEmpty() ? sdp_ : announced_;
    send(true, last);
    send(true, last);
    announced_.clear();
    delete socket_;
    socket_ = nullptr;
}

void SapAnnouncer::send(bool deletion, const QByteArray &sdp)
{
    if (!socket_ || sdp.isEmpty() || source_.isNull())
        return;
    const QByteArray packet = buildSapPacket(deletion, messageHash_, source_, sdp);
    for (const char *group : {sapGroupGlobal, sapGroupAdministered}) {
        if (socket_->writeDatagram(packet, QHostAddress(QLatin1String(group)), sapPort)
            != packet.size())
            emit errorOccurred(QStringLiteral("SAP 公告发送失败: %1").arg(socket_->errorString()));
    }
}

} // namespace audio::aes67
