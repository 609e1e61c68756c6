#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QObject>

class QTimer;
class QUdpSocket;

namespace audio::aes67 {

// Announces the own stream's SDP by SAP to both SAP groups every 4 to 5 s, and deletes it when it
// stops. A changed description is announced only after the previous one was deleted, so no
// listener keeps the old one beside the new.
class SapAnnouncer : public QObject
{
    Q_OBJECT
public:
    explicit SapAnnouncer(QObject *parent = nullptr);
    ~SapAnnouncer() override;

    // Stores what to announce; sends nothing.
    void start(const QHostAddress &sourceAddress, const QNetworkInterface &interface,
               const QByteArray &sdp);
    // Opens the sending socket with the given hop limit and starts announcing. False (with
    // errorOccurred) when the socket cannot be bound to the source address.
    bool open(int ttl);
    // Sends the deletion twice and closes the socket.
    void stop();

    bool isRunning() const { return running_; }
    QByteArray sdp() const { return sdp_; }

public slots:
    void announce();

signals:
    void errorOccurred(QString message);

private:
    void send(bool deletion, const QByteArray &sdp);

    QUdpSocket *socket_ = nullptr;
    QTimer *timer_ = nullptr;
    QHostAddress source_;
    QNetworkInterface interface_;
    QByteArray sdp_;
    QByteArray announced_; // the description the groups last heard
    quint16 messageHash_ = 0;
    bool running_ = false;
};

} // namespace audio::aes67
