#include "audio/aes67/MulticastSocket.h"

#include <QUdpSocket>
#include <QVariant>

namespace audio::aes67 {

void setMulticastRoute(QUdpSocket &socket, const QNetworkInterface &interface, int ttl)
{
    if (interface.isValid())
        socket.setMulticastInterface(interface);
    socket.setSocketOption(QAbstractSocket::MulticastTtlOption, QVariant(ttl));
}

QUdpSocket *openGroupReceiver(quint16 port, const QList<QHostAddress> &groups,
                              const QNetworkInterface &interface, QObject *parent, QString *error)
{
    auto *socket = new QUdpSocket(parent);
    const auto shared = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    bool ok = socket->bind(QHostAddress::AnyIPv4, port, shared);
    for (qsizetype i = 0; ok && i < groups.size(); ++i)
        ok = socket->joinMulticastGroup(groups.at(i), interface);
    if (ok)
        return socket;
    *error = QStringLiteral("port %1 on %2: %3")
                     .arg(port)
                     .arg(interface.name(), socket->errorString());
    delete socket;
    return nullptr;
}

QUdpSocket *openGroupSender(const QHostAddress &source, const QNetworkInterface &interface, int ttl,
                            QObject *parent, QString *error)
{
    auto *socket = new QUdpSocket(parent);
    if (!socket->bind(source, 0)) {
        *error = QStringLiteral("%1: %2").arg(source.toString(), socket->errorString());
        delete socket;
        return nullptr;
    }
    setMulticastRoute(*socket, interface, ttl);
    return socket;
}

} // namespace audio::aes67
