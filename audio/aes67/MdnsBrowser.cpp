#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
#include "audio/aes67/TableLimit.h"
#include "common/MainThread.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace audio::aes67 {

namespace {

constexpr int firstQueryIntervalMs = 1000;
constexpr int longestQueryIntervalMs = 60'000;
constexpr int mdnsTtl = 255;
constexpr char tag[] = "[MdnsBrowser]";

qint64 expiry(qint64 nowMs, quint32 ttlSeconds)
{
    return nowMs + qint64(ttlSeconds) * 1000;
}

dns::Name serviceName()
{
    return dns::nameFromText(QStringLiteral("%1.local").arg(QLatin1String(rtspServiceType)));
}

QString hostKey(const dns::Name &name)
{
    return name.join(QLatin1Char('.')).toLower();
}

} // namespace

// What mDNS told about each service instance and host, kept apart from the resolved devices.
struct MdnsBrowser::Impl
{
    struct Instance
    {
        qint64 heardMs = 0;
        qint64 expiresMs = 0;
        dns::Name host;
        quint16 port = 0;
        QMap<QString, QString> txt;
    };
    struct Host
    {
        QHostAddress address;
        qint64 heardMs = 0;
        qint64 expiresMs = 0;
    };

    QUdpSocket *socket = nullptr;
    QTimer *queryTimer = nullptr;
    QTimer *expiryTimer = nullptr;
    QElapsedTimer clock;
    int queryIntervalMs = firstQueryIntervalMs;
    QMap<QString, Instance> instances; // by instance label
    QMap<QString, Host> hosts; // by lower-case host name
    TableLimit instanceLimit{tag, "service instances", maxInstances};
    TableLimit hostLimit{tag, "host addresses", maxHosts};
};

MdnsBrowser *MdnsBrowser::instance()
{
    static MdnsBrowser browser;
    return &browser;
}

MdnsBrowser::MdnsBrowser()
    : impl_(std::make_unique<Impl>())
{
    registerMetaTypes();
    impl_->queryTimer = new QTimer(this);
    impl_->queryTimer->setSingleShot(true);
    connect(impl_->queryTimer, &QTimer::timeout, this, &MdnsBrowser::query);
    impl_->expiryTimer = new QTimer(this);
    impl_->expiryTimer->setInterval(1000);
    connect(impl_->expiryTimer, &QTimer::timeout, this, [this] { expire(impl_->clock.elapsed()); });
    impl_->clock.start();
    snt::moveToMainThread(this);
}

MdnsBrowser::~MdnsBrowser()
{
    running_ = false;
}

bool MdnsBrowser::start(const QNetworkInterface &interface)
{
    stop();
    QString error;
    impl_->socket = openGroupReceiver(mdnsPort, {QHostAddress(QLatin1String(mdnsGroup))}, interface,
                                      this, &error);
    if (!impl_->socket) {
        emit errorOccurred(QStringLiteral("mDNS: %1").arg(error));
        return false;
    }
    setMulticastRoute(*impl_->socket, interface, mdnsTtl);
    connect(impl_->socket, &QUdpSocket::readyRead, this, [this] {
        while (impl_->socket && impl_->socket->hasPendingDatagrams()) {
            dns::Message message;
            if (dns::parse(impl_->socket->receiveDatagram().data(), message) && message.response)
                handleMessage(message, impl_->clock.elapsed());
        }
    });
    running_ = true;
    impl_->queryIntervalMs = firstQueryIntervalMs;
    impl_->expiryTimer->start();
    query();
    return true;
}

void MdnsBrowser::stop()
{
    running_ = false;
    impl_->queryTimer->stop();
    impl_->expiryTimer->stop();
    delete impl_->socket;
    impl_->socket = nullptr;
}

void MdnsBrowser::query()
{
    if (!impl_->socket)
        return;
    dns::Message message;
    message.questions.append({serviceName(), dns::PTR, false});
    impl_->socket->writeDatagram(dns::write(message), QHostAddress(QLatin1String(mdnsGroup)),
                                 mdnsPort);
    impl_->queryTimer->start(impl_->queryIntervalMs);
    impl_->queryIntervalMs = qMin(impl_->queryIntervalMs * 2, longestQueryIntervalMs);
}

void MdnsBrowser::handleMessage(const dns::Message &message, qint64 nowMs)
{
    QStringList touched;
    for (const dns::Record &r : message.records) {
        if (r.type == dns::PTR && dns::sameName(r.name, serviceName()) && r.target.size() > 1
            && dns::sameName(r.target.mid(1), serviceName())) {
            const QString instance = r.target.first();
            if (r.ttl == 0) {
                forget(instance);
                continue;
            }
            heardInstance(instance, r.ttl, nowMs);
            touched.append(instance);
        } else if (r.type == dns::A && !r.address.isNull()) {
            if (r.ttl == 0) {
                impl_->hosts.remove(hostKey(r.name));
                continue;
            }
            heardHost(hostKey(r.name), r.address, r.ttl, nowMs);
            for (auto it = impl_->instances.cbegin(); it != impl_->instances.cend(); ++it) {
                if (dns::sameName(it->host, r.name))
                    touched.append(it.key());
            }
        } else if ((r.type == dns::SRV || r.type == dns::TXT) && r.ttl > 0 && r.name.size() > 1
                   && dns::sameName(r.name.mid(1), serviceName())) {
            auto it = impl_->instances.find(r.name.first());
            if (it == impl_->instances.end())
                continue;
            if (r.type == dns::SRV) {
                it->host = r.target;
                it->port = r.port;
            } else {
                it->txt.clear();
                for (const QByteArray &s : r.strings) {
                    const qsizetype eq = s.indexOf('=');
                    it->txt.insert(QString::fromUtf8(s.left(eq < 0 ? s.size() : eq)),
                                   eq < 0 ? QString() : QString::fromUtf8(s.mid(eq + 1)));
                }
            }
            touched.append(it.key());
        }
    }
    touched.removeDuplicates();
    for (const QString &instance : std::as_const(touched))
        resolve(instance);
}

void MdnsBrowser::heardInstance(const QString &instance, quint32 ttl, qint64 nowMs)
{
    if (!impl_->instances.contains(instance))
        impl_->instanceLimit.makeRoom(
                impl_->instances, [](const Impl::Instance &i) { return i.heardMs; },
                [this](const QString &oldest) { forget(oldest); });
    Impl::Instance &heard = impl_->instances[instance];
    heard.heardMs = nowMs;
    heard.expiresMs = expiry(nowMs, ttl);
}

void MdnsBrowser::heardHost(const QString &key, const QHostAddress &address, quint32 ttl,
                            qint64 nowMs)
{
    if (!impl_->hosts.contains(key))
        impl_->hostLimit.makeRoom(
                impl_->hosts, [](const Impl::Host &h) { return h.heardMs; },
                [this](const QString &oldest) { impl_->hosts.remove(oldest); });
    impl_->hosts[key] = {address, nowMs, expiry(nowMs, ttl)};
}

void MdnsBrowser::resolve(const QString &instance)
{
    const auto it = impl_->instances.constFind(instance);
    if (it == impl_->instances.cend())
        return;
    dns::Message ask;
    const dns::Name instanceName = dns::Name{instance} + serviceName();
    if (it->host.isEmpty()) {
        ask.questions.append({instanceName, dns::SRV, false});
        ask.questions.append({instanceName, dns::TXT, false});
    } else if (!impl_->hosts.contains(hostKey(it->host))) {
        ask.questions.append({it->host, dns::A, false});
    }
    if (!ask.questions.isEmpty()) {
        if (impl_->socket)
            impl_->socket->writeDatagram(dns::write(ask), QHostAddress(QLatin1String(mdnsGroup)),
                                         mdnsPort);
        return;
    }
    MdnsDevice device;
    device.key = instance;
    device.host = impl_->hosts.value(hostKey(it->host)).address.toString();
    device.port = it->port;
    device.serviceType = QLatin1String(rtspServiceType);
    device.txt = it->txt;
    const auto known = devices_.constFind(instance);
    if (known != devices_.cend() && known->host == device.host && known->port == device.port
        && known->txt == device.txt)
        return;
    devices_.insert(instance, device);
    emit deviceAppeared(device);
}

void MdnsBrowser::forget(const QString &instance)
{
    impl_->instances.remove(instance);
    if (devices_.remove(instance))
        emit deviceRemoved(instance);
}

void MdnsBrowser::expire(qint64 nowMs)
{
    QStringList gone;
    for (auto it = impl_->instances.cbegin(); it != impl_->instances.cend(); ++it) {
        if (it->expiresMs <= nowMs)
            gone.append(it.key());
    }
    for (const QString &instance : std::as_const(gone))
        forget(instance);
    impl_->hosts.removeIf([nowMs](const auto &it) { return it->expiresMs <= nowMs; });
}

qsizetype MdnsBrowser::instanceCount() const
{
    return impl_->instances.size();
}

qsizetype MdnsBrowser::hostCount() const
{
    return impl_->hosts.size();
}

} // namespace audio::aes67
