#include "audio/aes67/Sender.h"
#include "audio/aes67/Lifetime.h"
#include "audio/aes67/MdnsAdvertiser.h"
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/RtpPacket.h"
#include "audio/aes67/RtpSendThread.h"
#include "audio/aes67/RtspMiniServer.h"
#include "audio/aes67/SapAnnouncer.h"
#include "audio/aes67/Sdp.h"

#include <QRandomGenerator>
#include <QSysInfo>

namespace audio::aes67 {

namespace {

// The first packet leaves this long after the start, so the thread is up before its deadline.
constexpr qint64 startMarginNs = 5'000'000;

} // namespace

Sender *Sender::instance()
{
    static const std::unique_ptr<Sender> sender
            = makeProcessWide(new Sender, [] { Sender::instance()->stop(); });
    return sender.get();
}

Sender::Sender()
    : ring_(std::make_unique<FrameRing>())
    , sendThread_(std::make_unique<RtpSendThread>(*ring_))
    , announcer_(new SapAnnouncer(this))
    , sessionId_(QRandomGenerator::global()->bounded(1u, 2147483648u))
{
    registerMetaTypes();
    connect(announcer_, &SapAnnouncer::errorOccurred, this, &Sender::errorOccurred);
    connect(RtspMiniServer::instance(), &RtspMiniServer::errorOccurred, this,
            &Sender::errorOccurred);
    PtpClock *clock = PtpClock::instance();
    connect(clock, &PtpClock::stateChanged, this, &Sender::onClockChanged);
    connect(clock, &PtpClock::grandmasterChanged, this, &Sender::onClockChanged);
}

// Runs after the application quit, when stop() has already ended the stream; all that can be
// left is the send thread of a sender that was never stopped, which must not outlive the ring.
Sender::~Sender()
{
    sendThread_.reset();
}

void Sender::setConfig(const SenderConfig &config)
{
    config_ = config;
    config_.channels = qBound(1, config.channels, FrameRing::slotsPerFrame);
}

void Sender::setRunning(bool running)
{
    if (running_.exchange(running, std::memory_order_acq_rel) != running)
        emit runningChanged(running);
}

bool Sender::start(const QNetworkInterface &interface, const QHostAddress &localAddress)
{
    if (isRunning())
        stop();
    localAddress_ = localAddress;
    interface_ = interface;
    config_.sourceAddress = localAddress;

    PtpClock *clock = PtpClock::instance();
    if (!clock->isStarted())
        clock->start(interface);
    RtpStreamSettings stream;
    stream.source = localAddress;
    stream.destination = config_.destination;
    stream.port = config_.port;
    stream.channels = config_.channels;
    stream.ttl = config_.ttl;
    stream.startNs = PtpClock::monotonicNs() + startMarginNs;
    stream.firstTimestamp = rtpTimestampAt(clock->state() == PtpClock::Locked
                                                   ? clock->masterTimeNs(stream.startNs)
                                                   : stream.startNs);
    stream.firstSequence = quint16(QRandomGenerator::global()->generate());
    stream.ssrc = QRandomGenerator::global()->generate();
    QString error;
    if (!sendThread_->start(stream, &error)) {
        emit errorOccurred(error);
        stop();
        return false;
    }
    setRunning(true);

    announce();
    announcer_->open(config_.ttl);
    // Devices find the responder by mDNS and fetch the stream's SDP from it; a responder that
    // cannot listen is reported and leaves the stream running, unadvertised.
    RtspMiniServer *responder = RtspMiniServer::instance();
    if (responder->listen(localAddress, responder->port())) {
        const QString machine = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
        MdnsAdvertiser::instance()->start(
                interface, localAddress,
                QStringLiteral("%1 @ %2").arg(config_.sessionName, machine), responder->port());
    }
    return true;
}

void Sender::stop()
{
    const bool wasRunning = isRunning() || sendThread_->isRunning();
    running_.store(false, std::memory_order_release);
    announcer_->stop();
    MdnsAdvertiser::instance()->stop();
    RtspMiniServer::instance()->stop();
    PtpClock::instance()->stop();
    sendThread_->stop();
    config_.sourceAddress = QHostAddress();
    if (wasRunning)
        emit runningChanged(false);
}

qint64 Sender::packetsSent() const
{
    return sendThread_->packetsSent();
}

qint64 Sender::underruns() const
{
    return sendThread_->underruns();
}

StreamDescription Sender::describe(const QHostAddress &source) const
{
    StreamDescription d;
    d.sessionName = config_.sessionName;
    d.sourceAddress = source;
    d.destinationAddress = config_.destination;
    d.port = config_.port;
    d.channels = config_.channels;
    d.sampleRate = streamSampleRate;
    d.payloadType = streamPayloadType;
    d.sessionId = sessionId_;
    d.sessionVersion = sessionVersion_;
    PtpClock::instance()->fillStreamClock(d);
    return d;
}

void Sender::announce()
{
    StreamDescription d = describe(localAddress_);
    QString sdp = buildSdp(d);
    if (!lastSdp_.isEmpty() && sdp != lastSdp_) {
        d.sessionVersion = ++sessionVersion_;
        sdp = buildSdp(d);
    }
    lastSdp_ = sdp;
    announcer_->start(localAddress_, interface_, sdp.toUtf8());
    announcer_->announce();
}

void Sender::onClockChanged()
{
    if (isRunning())
        announce();
}

void Sender::push(const float *data, qlonglong frames, int channels, int sampleRate)
{
    if (!isRunning())
        return;
    if (sampleRate != streamSampleRate) {
        rateMismatch_.store(true, std::memory_order_relaxed);
        return;
    }
    if (!data || frames < 1 || channels < 1)
        return;
    if (writing_.exchange(true, std::memory_order_acquire)) {
        droppedFrames_.fetch_add(frames, std::memory_order_relaxed);
        return;
    }
    if (const qint64 dropped = ring_->write(data, frames, channels))
        droppedFrames_.fetch_add(dropped, std::memory_order_relaxed);
    writing_.store(false, std::memory_order_release);
}

} // namespace audio::aes67
