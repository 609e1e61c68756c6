#include "processor/JsonValues.h"
#include "processor/MessageLimits.h"
#include "processor/ProcessorClient.h"

#include "files/DataFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

using processor::valueText;

namespace {

const QByteArray kQuery("ST");
constexpr quint16 kDiscoveryPort = 50002;
constexpr int kBlockingListenMs = 2500;
constexpr int kBlockingPollMs = 120;
constexpr int kNameQueryTimeoutMs = 900;
constexpr int kUdpPhaseMs = 800;
constexpr int kProbeTransferTimeoutMs = 700;
// A probe's whole time, the redirects it follows included: the search reports once every probe
// ended, so a slow chain of redirects must not hold up the result beyond it. The probes of a
// search share it, counted from the start of the last one.
constexpr int kProbeAbortMs = 900;
// A console page is reached in a redirect or two; more is taken for an address that loops.
constexpr int kProbeRedirects = 3;

// Any answer counts; only where it came from matters. Our own machine is never a processor.
bool isUsableSender(const QString &address)
{
    return !address.isEmpty() && !address.startsWith(QLatin1String("127."));
}

QString senderText(const QNetworkDatagram &datagram)
{
    return datagram.senderAddress().toString();
}

QVariantMap found(const QString &ip, const QString &name)
{
    return {{QStringLiteral("ip"), ip}, {QStringLiteral("name"), name}};
}

template<typename Visit>
void forEachIpv4Entry(Visit visit)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                visit(entry);
        }
    }
}

bool isRedirect(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 300 && status < 400;
}

// Where a redirect leads when that is another page of the address probed: the same scheme, host
// and port. Anywhere else is some other machine's page, not this one's console; empty then.
QUrl pageOfSameAddress(const QNetworkReply *reply)
{
    const QUrl from = reply->url();
    const QUrl to = from.resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
    const bool same = to.scheme() == from.scheme() && to.host() == from.host()
                      && to.port(80) == from.port(80);
    return same ? to : QUrl();
}

} // namespace

// The state of one background search's probe phase, shared by its probes; a second search
// started meanwhile has its own.
struct ProcessorClient::DiscoveryRun
{
    DiscoveryRun()
    {
        timeUp.setSingleShot(true);
        timeUp.setTimerType(Qt::PreciseTimer);
    }

    QVariantList found;
    int pending = 0;
    int total = 0;
    // Runs out when the probes' time is up; the requests they still wait for are aborted then.
    QTimer timeUp;
};

// One candidate's page probe and the redirects it followed so far.
struct ProcessorClient::ConsoleProbe
{
    QString candidate;
    QSharedPointer<DiscoveryRun> run;
    int redirects = 0;
};

QVariantList ProcessorClient::discoverDevices()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        return {};
    socket.writeDatagram(kQuery, QHostAddress::Broadcast, kDiscoveryPort);
    QStringList senders;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kBlockingListenMs) {
        socket.waitForReadyRead(kBlockingPollMs);
        while (socket.hasPendingDatagrams()) {
            const QString sender = senderText(socket.receiveDatagram());
            if (isUsableSender(sender) && !senders.contains(sender))
                senders.append(sender);
        }
    }

    QVariantList devices;
    for (const QString &sender : senders) {
        QNetworkRequest request(QUrl(QStringLiteral("http://%1/test.fcgi").arg(sender)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setTransferTimeout(kNameQueryTimeoutMs);
        const QJsonObject query{{QStringLiteral("DEVICEINFO"), QJsonObject()}};
        const Exchange exchange = waitForReply(
                limited(network_->post(request,
                                       QJsonDocument(query).toJson(QJsonDocument::Compact)),
                        processor::kCommandReplyLimit),
                kNameQueryTimeoutMs);
        const QJsonObject data = QJsonDocument::fromJson(exchange.body)
                                         .object()
                                         .value(QLatin1String("data"))
                                         .toObject();
        devices.append(found(sender, valueText(data.value(QLatin1String("DEVINFOdev_name0")))));
    }
    return devices;
}

void ProcessorClient::discoverDevicesAsync()
{
    logDiscovery(QStringLiteral("start"));
    if (!discoverySockets_.isEmpty())
        return;
    udpSenders_.clear();
    const auto addSocket = [this](const QHostAddress &bindTo, const QHostAddress &sendTo) {
        auto *socket = new QUdpSocket(this);
        if (!socket->bind(bindTo, 0)) {
            delete socket;
            return;
        }
        if (!sendTo.isNull())
            socket->writeDatagram(kQuery, sendTo, kDiscoveryPort);
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { onUdpReadyRead(socket); });
        discoverySockets_.append(socket);
    };
    forEachIpv4Entry(
            [&](const QNetworkAddressEntry &entry) { addSocket(entry.ip(), entry.broadcast()); });
    addSocket(QHostAddress::AnyIPv4, QHostAddress::Broadcast);
    if (!ip_.isEmpty() && !discoverySockets_.isEmpty())
        discoverySockets_.first()->writeDatagram(kQuery, QHostAddress(ip_), kDiscoveryPort);
    QTimer::singleShot(kUdpPhaseMs, this, &ProcessorClient::finishDiscovery);
}

void ProcessorClient::onUdpReadyRead(QUdpSocket *socket)
{
    while (socket->hasPendingDatagrams()) {
        const QString sender = senderText(socket->receiveDatagram());
        if (isUsableSender(sender) && !udpSenders_.contains(sender))
            udpSenders_.append(sender);
    }
}

void ProcessorClient::finishDiscovery()
{
    if (discoverySockets_.isEmpty())
        return;
    for (QUdpSocket *socket : std::as_const(discoverySockets_)) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    discoverySockets_.clear();
    logDiscovery(QStringLiteral("finish udp ips=%1").arg(udpSenders_.size()));

    QStringList candidates;
    QSet<QString> seen;
    const auto add = [&](const QString &address) {
        if (!seen.contains(address)) {
            seen.insert(address);
            candidates.append(address);
        }
    };
    for (const QString &sender : std::as_const(udpSenders_))
        add(sender);
    udpSenders_.clear();
    if (!ip_.isEmpty())
        add(ip_);
    const QHostAddress slash24(QStringLiteral("255.255.255.0"));
    forEachIpv4Entry([&](const QNetworkAddressEntry &entry) {
        if (entry.netmask() != slash24)
            return;
        const QString own = entry.ip().toString();
        const QString network = own.section(QLatin1Char('.'), 0, 2);
        for (int host = 1; host <= 254; ++host) {
            const QString address = network + QLatin1Char('.') + QString::number(host);
            if (address != own)
                add(address);
        }
    });

    if (candidates.isEmpty()) {
        logDiscovery(QStringLiteral("no candidates"));
        emit devicesFound({});
        return;
    }
    auto run = QSharedPointer<DiscoveryRun>::create();
    run->pending = run->total = int(candidates.size());
    for (const QString &candidate : std::as_const(candidates)) {
        // Each start restarts the probes' time: starting a sweep's 254 may take longer than that
        // on a busy machine, and no answer is read meanwhile, a redirect of the first probes to
        // their own page included; their time must not run out before they could follow it.
        run->timeUp.start(kProbeAbortMs);
        askForConsolePage(QUrl(QStringLiteral("http://%1/").arg(candidate)), {candidate, run});
    }
}

// Each request of a probe has what is left of the probes' time; with nothing left (or the time
// up already: -1) the probe ends without a processor.
void ProcessorClient::askForConsolePage(const QUrl &page, const ConsoleProbe &probe)
{
    const QTimer &timeUp = probe.run->timeUp;
    const int leftMs = timeUp.remainingTime();
    if (leftMs <= 0) {
        endConsoleProbe(probe.run);
        return;
    }
    QNetworkRequest request(page);
    request.setTransferTimeout(std::min(kProbeTransferTimeoutMs, leftMs));
    QNetworkReply *reply = limited(network_->get(request), processor::kConsolePageLimit);
    // The reply is the connection's context: once the reply is gone the connection is gone too,
    // and a reply that already finished is left alone.
    connect(&timeUp, &QTimer::timeout, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, probe] { onProbeReply(reply, probe); });
}

// Only a page the address serves is searched for the marker; a redirect's own body is not that
// page. A redirect to another page of the same address is followed, as a browser typing the
// address would; one anywhere else ends the probe.
void ProcessorClient::onProbeReply(QNetworkReply *reply, ConsoleProbe probe)
{
    reply->deleteLater();
    if (reply->error() == QNetworkReply::NoError && isRedirect(reply)) {
        const QUrl next = pageOfSameAddress(reply);
        if (!next.isEmpty() && probe.redirects < kProbeRedirects) {
            ++probe.redirects;
            askForConsolePage(next, probe);
            return;
        }
    } else if (reply->error() == QNetworkReply::NoError) {
        const QByteArray page = reply->readAll();
        if (page.contains("Moriat") || page.contains("moriat"))
            probe.run->found.append(found(probe.candidate, QString()));
    }
    endConsoleProbe(probe.run);
}

// The last probe of a run to end reports the run's result.
void ProcessorClient::endConsoleProbe(const QSharedPointer<DiscoveryRun> &run)
{
    if (--run->pending >= 1)
        return;
    std::sort(run->found.begin(), run->found.end(), &ProcessorClient::ipLessThan);
    QStringList addresses;
    for (const QVariant &device : std::as_const(run->found))
        addresses.append(device.toMap().value(QStringLiteral("ip")).toString());
    logDiscovery(QStringLiteral("candidates=%1\n").arg(run->total)
                         + addresses.join(QLatin1Char('\n')),
                 true);
    emit devicesFound(run->found);
}

bool ProcessorClient::ipLessThan(const QVariant &a, const QVariant &b)
{
    const auto value = [](const QVariant &device) {
        bool ok = false;
        const quint32 ip = QHostAddress(device.toMap().value(QStringLiteral("ip")).toString())
                                   .toIPv4Address(&ok);
        return ok ? ip : 0u;
    };
    return value(a) < value(b);
}

void ProcessorClient::logDiscovery(const QString &text, bool truncate)
{
    const QString folder = documentsRoot() + QStringLiteral("/临时");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/discover.log"));
    const QIODevice::OpenMode mode = truncate ? QIODevice::Truncate : QIODevice::Append;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | mode))
        return;
    file.write((text + QLatin1Char('\n')).toUtf8());
}
