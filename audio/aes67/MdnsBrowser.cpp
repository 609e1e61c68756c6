#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
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
        qint64 expiresMs = 0;
        dns::Name host;
        quint16 port = 0;
        QMap<QString, QString> txt;
    };

    QUdpSocket *socket = nullptr;
    QTimer *queryTimer = nullptr;
    QTimer *expiryTimer = nullptr;
    QElapsedTimer clock;
    int queryIntervalMs = firstQueryIntervalMs;
    QMap<QString, Instance> instances; // by instance label
    QMap<QString, QHostAddress> hosts; // by lower-case host name
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
            impl_->instances[instance].expiresMs = nowMs + qint64(r.ttl) * 1000;
            touched.append(instance);
        } else if (r.type == dns::A && !r.address.isNull()) {
            impl_->hosts.insert(hostKey(r.name), r.address);
            for (auto it = impl_->instances.cbegin(); it != impl_->instances.cend(); ++it) {
                if (dns::sameName(it->host, r.name))
                    touched.append(it.key());
            }
        } else if ((r.type == dns::SRV || r.type == dns::TXT) && r.name.size() > 1
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
    device.host = impl_->hosts.value(hostKey(it->host)).toString();
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
}

} // namespace audio::aes67
