#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace audio::aes67 {

// What it takes to make one route: the stream's SDP, and the device's RTSP address.
struct RouteRequest
{
    QString id; // the subscription's
    QString streamName;
    QByteArray sdp;
    QString host;
    qint32 port = 0;
};

// Makes and undoes routes on devices for the route controller. Every connect and every
// disconnect ends in one connectFinished or disconnectFinished for its subscription id; a route
// that was made and whose device then ends the connection by itself is reported by routeLost.
class RouteBackend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void connectSubscription(const RouteRequest &request) = 0;
    virtual void disconnectSubscription(const QString &subscriptionId) = 0;
    // Ends every route in the making, reporting those with a request under way with `reason`.
    virtual void abortAll(const QString &reason) = 0;

signals:
    void connectFinished(QString subscriptionId, bool ok, QString error);
    void disconnectFinished(QString subscriptionId, bool ok, QString error);
    void routeLost(QString subscriptionId);
};

} // namespace audio::aes67
