#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

class QObject;
class QUdpSocket;

namespace audio::aes67 {

// A socket that receives a port's multicast groups on one interface. The port is bound shared
// (other programs on the machine, say a PTP daemon or an mDNS responder, keep theirs). Returns
// nullptr and the reason in `error` when the bind or a join fails.
QUdpSocket *openGroupReceiver(quint16 port, const QList<QHostAddress> &groups,
                              const QNetworkInterface &interface, QObject *parent, QString *error);

// A socket that sends multicast from `source` out of `interface` with the given hop limit.
QUdpSocket *openGroupSender(const QHostAddress &source, const QNetworkInterface &interface, int ttl,
                            QObject *parent, QString *error);

// Sends through `socket` to every group on that port the same multicast settings apply to.
void setMulticastRoute(QUdpSocket &socket, const QNetworkInterface &interface, int ttl);

} // namespace audio::aes67
