#pragma once

#include "audio/aes67/Types.h"

#include <QMap>
#include <QNetworkInterface>
#include <QObject>

class QUdpSocket;

namespace audio::aes67 {

struct SapPacket;

// The process-wide table of streams that other senders announce by SAP, keyed "<hash>@<origin>".
// A stream stays listed until its deletion arrives.
class SapListener : public QObject
{
    Q_OBJECT
public:
    static SapListener *instance();
    ~SapListener() override;

    // Listens on the SAP port for both SAP groups on `interface`. False, with errorOccurred,
    // when the port cannot be bound or a group joined.
    bool start(const QNetworkInterface &interface);
    // Leaves the groups and closes the socket; the table stays.
    void stop();
    bool isListening() const { return socket_ != nullptr; }

    QList<Aes67StreamInfo> streams() const { return streams_.values(); }

    // One received packet at wall-clock time `nowMs` (ms since the epoch).
    void handlePacket(const SapPacket &packet, qint64 nowMs);

public slots:
    void onReadyRead();

signals:
    void streamAppeared(audio::aes67::Aes67StreamInfo info);
    void streamUpdated(audio::aes67::Aes67StreamInfo info);
    void streamRemoved(audio::aes67::Aes67StreamInfo info);
    void errorOccurred(QString message);

private:
    SapListener();

    QUdpSocket *socket_ = nullptr;
    QNetworkInterface interface_;
    QMap<QString, Aes67StreamInfo> streams_;
};

} // namespace audio::aes67
