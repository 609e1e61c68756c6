#pragma once

#include "audio/aes67/Types.h"

#include <QMap>
#include <QObject>

namespace audio::aes67 {

class RouteBackend;

// Keeps the route subscriptions (which stream goes to which device), has a backend make them,
// retries a failed connection once, and keeps them in the settings group "AES67Routes".
//
// The saved subscriptions are read when the controller is made and wait, Idle, until their
// device is found by mDNS and their stream is there (the own sender running, or a SAP stream of
// the same name); then they are connected again. The controller looks for them right after it is
// made and whenever a device or stream appears or the sender starts.
//
// A connected route whose device leaves (its mDNS goodbye, or its records' time to live running
// out) or ends the RTSP connection is no longer connected: it goes back to Idle, waiting like a
// saved one, and is made again once its device appears again. No error is shown for it.
class RouteController : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultRetryDelayMs = 2000;

    // Without a backend, an RTSP backend is made on first need, a child of the controller.
    explicit RouteController(RouteBackend *backend = nullptr, QObject *parent = nullptr);

    RouteBackend *ensureBackend();

    // Asks for a route: files it under its id (streamKey|deviceKey when empty), replacing one
    // with that id, and connects it with one retry in hand. Saved once the attempt ends.
    void upsertSubscription(const RouteSubscription &sub);
    // Has the backend undo the route; the subscription goes once that succeeded. False for an
    // unknown id.
    bool removeSubscription(const QString &id);

    RouteTable subscriptions() const { return subscriptions_; }
    int retryDelayMs() const { return retryDelayMs_; }
    void setRetryDelayMs(int ms) { retryDelayMs_ = ms; }

    // Whether the subscription's device and stream are present now; a SAP stream found by name
    // and the own sender lend it their current key, origin and SDP.
    bool resolvePeer(RouteSubscription &sub) const;

public slots:
    void onConnectFinished(const QString &id, bool ok, const QString &error);
    void onDisconnectFinished(const QString &id, bool ok, const QString &error);
    void onPeerAppeared();
    void onDeviceRemoved();
    void onRouteLost(const QString &id);

signals:
    void subscriptionChanged(audio::aes67::RouteSubscription sub);
    void subscriptionRemoved(QString subscriptionId);

private:
    void useBackend(RouteBackend *backend);
    void retry(const QString &id);
    bool deviceListed(const RouteSubscription &sub) const;
    void save() const;

    RouteBackend *backend_ = nullptr;
    RouteTable subscriptions_;
    QMap<QString, qint32> retryBudget_;
    qint32 retryDelayMs_ = defaultRetryDelayMs;
};

} // namespace audio::aes67
