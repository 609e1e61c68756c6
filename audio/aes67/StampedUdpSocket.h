#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QObject>

class QSocketNotifier;

namespace audio::aes67 {

// A UDP socket for the PTP ports that hands out every datagram with the time the kernel
// received it, on the monotonic clock. The clock's reader runs in the GUI thread, which may be
// busy for milliseconds (painting, analysis): a time taken when the datagram is read would carry
// that delay into every offset, while the kernel's time does not. The port is bound shared and
// the group joined on one interface; sends go out of that interface with the given hop limit.
class StampedUdpSocket : public QObject
{
    Q_OBJECT
public:
    explicit StampedUdpSocket(QObject *parent = nullptr);
    ~StampedUdpSocket() override;

    // False, with the reason in `error`, when the port cannot be bound or the group joined.
    bool open(quint16 port, const QHostAddress &group, const QNetworkInterface &interface, int ttl,
              QString *error);

    // The next waiting datagram and its receive time (ns, monotonic); false when none waits.
    bool read(QByteArray &datagram, qint64 &receivedNs);
    // Sends one datagram; `sentNs` is the time it left (monotonic), the kernel's where it tells.
    bool send(const QByteArray &datagram, const QHostAddress &to, quint16 port, qint64 &sentNs);

signals:
    void readyRead();

private:
    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace audio::aes67
