#include "audio/aes67/RouteController.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/RtspRouteBackend.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/SavedRoutes.h"
#include "audio/aes67/Sdp.h"
#include "audio/aes67/Sender.h"
#include "common/Log.h"

#include <QSettings>
#include <QTimer>

namespace audio::aes67 {

namespace {

constexpr char tag[] = "[RouteController]";

RouteRequest requestFor(const RouteSubscription &sub)
{
    return {sub.id, sub.streamName, sub.sdpText, sub.deviceHost, sub.deviceRtspPort};
}

} // namespace

RouteController::RouteController(RouteBackend *backend, QObject *parent)
    : QObject(parent)
{
    registerMetaTypes();
    if (backend)
        useBackend(backend);
    // Read once, here: saved routes must be restorable before any new route is asked for.
    QSettings settings;
    subscriptions_ = loadSubscriptions(settings);
    connect(MdnsBrowser::instance(), &MdnsBrowser::deviceAppeared, this,
            &RouteController::onPeerAppeared);
    connect(MdnsBrowser::instance(), &MdnsBrowser::deviceRemoved, this,
            &RouteController::onDeviceRemoved);
    connect(SapListener::instance(), &SapListener::streamAppeared, this,
            &RouteController::onPeerAppeared);
    connect(Sender::instance(), &Sender::runningChanged, this, [this](bool running) {
        if (running)
            onPeerAppeared();
    });
    // Devices and streams found before the controller existed announce themselves no more.
    QTimer::singleShot(0, this, &RouteController::onPeerAppeared);
}

RouteBackend *RouteController::ensureBackend()
{
    if (!backend_)
        useBackend(new RtspRouteBackend(this));
    return backend_;
}

void RouteController::useBackend(RouteBackend *backend)
{
    backend_ = backend;
    connect(backend, &RouteBackend::connectFinished, this, &RouteController::onConnectFinished);
    connect(backend, &RouteBackend::disconnectFinished, this,
            &RouteController::onDisconnectFinished);
    connect(backend, &RouteBackend::routeLost, this, &RouteController::onRouteLost);
}

void RouteController::upsertSubscription(const RouteSubscription &sub)
{
    RouteSubscription stored = sub;
    if (stored.id.isEmpty())
        stored.id = RouteSubscription::makeId(stored.streamKey, stored.deviceKey);
    stored.state = RouteSubscription::Connecting;
    stored.lastError.clear();
    stored.pendingRestore = false;
    subscriptions_.insert(stored.id, stored);
    retryBudget_.insert(stored.id, 1);
    emit subscriptionChanged(stored);
    ensureBackend()->connectSubscription(requestFor(stored));
}

bool RouteController::removeSubscription(const QString &id)
{
    if (!subscriptions_.contains(id))
        return false;
    ensureBackend()->disconnectSubscription(id);
    return true;
}

void RouteController::onConnectFinished(const QString &id, bool ok, const QString &error)
{
    const auto sub = subscriptions_.find(id);
    if (sub == subscriptions_.end())
        return;
    if (!ok && retryBudget_.value(id) >= 1) {
        --retryBudget_[id];
        sntWarning(lcAes67, tag) << "connect failed, retrying once:" << id << error;
        QTimer::singleShot(retryDelayMs_, this, [this, id] { retry(id); });
        return;
    }
    sub->state = ok ? RouteSubscription::Connected : RouteSubscription::Failed;
    sub->lastError = ok ? QString() : error;
    if (ok)
        sub->pendingRestore = false;
    const RouteSubscription changed = *sub;
    emit subscriptionChanged(changed);
    save();
}

void RouteController::retry(const QString &id)
{
    const auto sub = subscriptions_.constFind(id);
    if (sub != subscriptions_.cend() && sub->state == RouteSubscription::Connecting)
        ensureBackend()->connectSubscription(requestFor(*sub));
}

void RouteController::onDisconnectFinished(const QString &id, bool ok, const QString &error)
{
    const auto sub = subscriptions_.find(id);
    if (sub == subscriptions_.end())
        return;
    if (ok) {
        subscriptions_.erase(sub);
        retryBudget_.remove(id);
        emit subscriptionRemoved(id);
    } else {
        sub->state = RouteSubscription::Failed;
        sub->lastError = error;
        const RouteSubscription changed = *sub;
        emit subscriptionChanged(changed);
    }
    save();
}

void RouteController::onPeerAppeared()
{
    QList<RouteSubscription> restorable;
    for (RouteSubscription &sub : subscriptions_) {
        const bool waiting
                = sub.state == RouteSubscription::Idle || sub.state == RouteSubscription::Failed;
        if (sub.pendingRestore && waiting && resolvePeer(sub)) {
            sub.pendingRestore = false;
            restorable.append(sub);
        }
    }
    for (const RouteSubscription &sub : std::as_const(restorable)) {
        sntInfo(lcAes67, tag) << "restoring subscription:" << sub.id;
        upsertSubscription(sub);
    }
}

void RouteController::onDeviceRemoved()
{
    QStringList gone;
    for (const RouteSubscription &sub : std::as_const(subscriptions_)) {
        if (sub.state == RouteSubscription::Connected && !deviceListed(sub))
            gone.append(sub.id);
    }
    for (const QString &id : std::as_const(gone))
        onRouteLost(id);
}

void RouteController::onRouteLost(const QString &id)
{
    const auto sub = subscriptions_.find(id);
    if (sub == subscriptions_.end() || sub->state != RouteSubscription::Connected)
        return;
    sntInfo(lcAes67, tag) << "route lost, waiting for its device:" << id;
    sub->state = RouteSubscription::Idle;
    sub->pendingRestore = true;
    const RouteSubscription changed = *sub;
    emit subscriptionChanged(changed);
}

bool RouteController::deviceListed(const RouteSubscription &sub) const
{
    const QList<MdnsDevice> devices = MdnsBrowser::instance()->devices();
    return std::any_of(devices.begin(), devices.end(), [&](const MdnsDevice &d) {
        return d.serviceType == QLatin1String(rtspServiceType) && d.host == sub.deviceHost
               && d.port == sub.deviceRtspPort;
    });
}

bool RouteController::resolvePeer(RouteSubscription &sub) const
{
    if (!deviceListed(sub))
        return false;
    if (sub.streamKey == QLatin1String(ownSenderStreamKey)) {
        // The saved SDP names the session of the sender that ran when the route was made.
        Sender *sender = Sender::instance();
        if (!sender->isRunning())
            return false;
        sub.sdpText = buildSdp(sender->describe(sender->config().sourceAddress)).toUtf8();
        return true;
    }
    for (const Aes67StreamInfo &stream : SapListener::instance()->streams()) {
        if (stream.sessionName == sub.streamName) {
            sub.streamKey = stream.key;
            sub.streamOrigin = stream.origin.toString();
            sub.sdpText = stream.sdp;
            return true;
        }
    }
    return false;
}

void RouteController::save() const
{
    QSettings settings;
    saveSubscriptions(settings, subscriptions_);
}

} // namespace audio::aes67
