#include "audio/aes67/MdnsAdvertiser.h"
#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/MulticastSocket.h"
#include "common/Log.h"
#include "common/MainThread.h"

#include <QNetworkDatagram>
#include <QSysInfo>
#include <QTimer>
#include <QUdpSocket>

namespace audio::aes67 {

namespace {

// Times to live that mDNS recommends: host-bound records short, the others long.
constexpr quint32 hostRecordTtl = 120;
constexpr quint32 otherRecordTtl = 4500;
constexpr int announcements = 2;
constexpr int announceIntervalMs = 1000;

dns::Name serviceName()
{
    return dns::nameFromText(QStringLiteral("%1.local").arg(QLatin1String(rtspServiceType)));
}

dns::Record record(const dns::Name &name, quint16 type, bool cacheFlush, quint32 ttl)
{
    dns::Record r;
    r.name = name;
    r.type = type;
    r.cacheFlush = cacheFlush;
    r.ttl = ttl;
    return r;
}

void appendOnce(QList<dns::Record> &records, const dns::Record &record)
{
    for (const dns::Record &r : std::as_const(records)) {
        if (r.type == record.type && dns::sameName(r.name, record.name))
            return;
    }
    records.append(record);
}

} // namespace

struct MdnsAdvertiser::Impl
{
    QUdpSocket *socket = nullptr;
    QTimer *announceTimer = nullptr;
    int announcementsLeft = 0;
    dns::Name instance;
    dns::Name host;
    QHostAddress address;
    quint16 port = 0;

    dns::Record ptr(quint32 ttl) const
    {
        dns::Record r = record(serviceName(), dns::PTR, false, ttl);
        r.target = instance;
        return r;
    }
    dns::Record srv(quint32 ttl) const
    {
        dns::Record r = record(instance, dns::SRV, true, ttl);
        r.target = host;
        r.port = port;
        return r;
    }
    dns::Record txt(quint32 ttl) const { return record(instance, dns::TXT, true, ttl); }
    dns::Record a(quint32 ttl) const
    {
        dns::Record r = record(host, dns::A, true, ttl);
        r.address = address;
        return r;
    }
};

MdnsAdvertiser *MdnsAdvertiser::instance()
{
    static MdnsAdvertiser advertiser;
    return &advertiser;
}

MdnsAdvertiser::MdnsAdvertiser()
    : impl_(std::make_unique<Impl>())
{
    impl_->announceTimer = new QTimer(this);
    impl_->announceTimer->setInterval(announceIntervalMs);
    connect(impl_->announceTimer, &QTimer::timeout, this, &MdnsAdvertiser::announce);
    snt::moveToMainThread(this);
}

MdnsAdvertiser::~MdnsAdvertiser()
{
    stop();
}

bool MdnsAdvertiser::start(const QNetworkInterface &interface, const QHostAddress &address,
                           const QString &instanceName, quint16 port)
{
    stop();
    QString error;
    impl_->socket = openGroupReceiver(mdnsPort, {QHostAddress(QLatin1String(mdnsGroup))}, interface,
                                      this, &error);
    if (!impl_->socket) {
        sntWarning(lcAes67, "[Mdns]") << "cannot advertise:" << error;
        return false;
    }
    setMulticastRoute(*impl_->socket, interface, 255);
    connect(impl_->socket, &QUdpSocket::readyRead, this, &MdnsAdvertiser::onReadyRead);
    QString machine = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
    if (machine.isEmpty())
        machine = QStringLiteral("sonetra");
    impl_->instance = dns::Name{instanceName} + serviceName();
    impl_->host = dns::Name{machine, QStringLiteral("local")};
    impl_->address = address;
    impl_->port = port;
    running_ = true;
    impl_->announcementsLeft = announcements;
    announce();
    impl_->announceTimer->start();
    return true;
}

void MdnsAdvertiser::stop()
{
    impl_->announceTimer->stop();
    if (running_ && impl_->socket)
        impl_->socket->writeDatagram(dns::write(announcement(true)),
                                     QHostAddress(QLatin1String(mdnsGroup)), mdnsPort);
    running_ = false;
    delete impl_->socket;
    impl_->socket = nullptr;
}

dns::Message MdnsAdvertiser::announcement(bool goodbye) const
{
    dns::Message m;
    m.response = true;
    m.records = {impl_->ptr(goodbye ? 0 : otherRecordTtl), impl_->srv(goodbye ? 0 : hostRecordTtl),
                 impl_->txt(goodbye ? 0 : otherRecordTtl), impl_->a(goodbye ? 0 : hostRecordTtl)};
    return m;
}

dns::Message MdnsAdvertiser::answer(const dns::Message &query) const
{
    dns::Message reply;
    reply.response = true;
    QList<dns::Record> answers, additional;
    for (const dns::Question &q : query.questions) {
        const bool any = q.type == dns::ANY;
        if ((q.type == dns::PTR || any) && dns::sameName(q.name, serviceName())) {
            appendOnce(answers, impl_->ptr(otherRecordTtl));
            appendOnce(additional, impl_->srv(hostRecordTtl));
            appendOnce(additional, impl_->txt(otherRecordTtl));
            appendOnce(additional, impl_->a(hostRecordTtl));
        }
        if (dns::sameName(q.name, impl_->instance)) {
            if (q.type == dns::SRV || any)
                appendOnce(answers, impl_->srv(hostRecordTtl));
            if (q.type == dns::TXT || any)
                appendOnce(answers, impl_->txt(otherRecordTtl));
            appendOnce(additional, impl_->a(hostRecordTtl));
        }
        if ((q.type == dns::A || any) && dns::sameName(q.name, impl_->host))
            appendOnce(answers, impl_->a(hostRecordTtl));
    }
    if (answers.isEmpty())
        return reply;
    for (const dns::Record &r : std::as_const(additional))
        appendOnce(answers, r);
    reply.records = answers;
    return reply;
}

void MdnsAdvertiser::announce()
{
    if (impl_->announcementsLeft-- <= 0 || !impl_->socket) {
        impl_->announceTimer->stop();
        return;
    }
    impl_->socket->writeDatagram(dns::write(announcement(false)),
                                 QHostAddress(QLatin1String(mdnsGroup)), mdnsPort);
}

void MdnsAdvertiser::onReadyRead()
{
    while (impl_->socket && impl_->socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = impl_->socket->receiveDatagram();
        dns::Message query;
        if (!dns::parse(datagram.data(), query) || query.response)
            continue;
        dns::Message reply = answer(query);
        if (reply.records.isEmpty())
            continue;
        const bool legacy = datagram.senderPort() != mdnsPort;
        bool unicast = legacy;
        for (const dns::Question &q : std::as_const(query.questions))
            unicast = unicast || q.unicastResponse;
        if (legacy) {
            // A plain DNS resolver asking the mDNS port: it expects its id and questions back.
            reply.id = query.id;
            reply.questions = query.questions;
        }
        if (unicast)
            impl_->socket->writeDatagram(dns::write(reply), datagram.senderAddress(),
                                         quint16(datagram.senderPort()));
        else
            impl_->socket->writeDatagram(dns::write(reply), QHostAddress(QLatin1String(mdnsGroup)),
                                         mdnsPort);
    }
}

} // namespace audio::aes67
