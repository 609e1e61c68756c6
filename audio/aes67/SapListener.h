#pragma once

#include "audio/aes67/TableLimit.h"
#include "audio/aes67/Types.h"

#include <QMap>
#include <QNetworkInterface>
#include <QObject>

class QTimer;
class QUdpSocket;

namespace audio::aes67 {

struct SapPacket;

// The process-wide table of streams that other senders announce by SAP, keyed "<hash>@<origin>".
// A stream stays listed until its deletion arrives or, as RFC 2974 has it, until it has not been
// announced again for ten of its announcement intervals (the time between its last two
// announcements), at most an hour; then it is reported as removed. At most 1024 streams are
// listed: spoofed announcements beyond that push out the least recently heard.
class SapListener : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype maxStreams = 1024;
    static constexpr qint64 longestTimeoutMs = 3'600'000;

    static SapListener *instance();
    ~SapListener() override;

    // Listens on the SAP port for both SAP groups on `interface`. False, with errorOccurred,
    // when the port cannot be bound or a group joined.
    bool start(const QNetworkInterface &interface);
    // Leaves the groups and closes the socket; the table stays.
    void stop();
    bool isListening() const { return socket_ != nullptr; }

    QList<Aes67StreamInfo> streams() const;

    // One received packet at wall-clock time `nowMs` (ms since the epoch).
    void handlePacket(const SapPacket &packet, qint64 nowMs);
    // Removes the streams whose time-out has run out by `nowMs`. Runs every second while listening.
    void expire(qint64 nowMs);

public slots:
    void onReadyRead();

signals:
    void streamAppeared(audio::aes67::Aes67StreamInfo info);
    void streamUpdated(audio::aes67::Aes67StreamInfo info);
    void streamRemoved(audio::aes67::Aes67StreamInfo info);
    void errorOccurred(QString message);

private:
    // A listed stream and the interval its sender announces it at (0 until measured).
    struct Session
    {
        Aes67StreamInfo info;
        qint64 intervalMs = 0;
    };

    SapListener();
    void add(const QString &key, const SapPacket &packet, qint64 nowMs);
    void remove(const QString &key);
    static qint64 timeoutMs(const Session &session);

    QUdpSocket *socket_ = nullptr;
    QTimer *expiryTimer_ = nullptr;
    QNetworkInterface interface_;
    QMap<QString, Session> streams_;
    TableLimit limit_{"[SapListener]", "announced streams", maxStreams};
};

} // namespace audio::aes67
