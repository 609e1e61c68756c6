#include "audio/aes67/RtpSendThread.h"
#include "audio/aes67/FrameRing.h"
#include "audio/aes67/RtpPacket.h"
#include "common/ThreadPriority.h"

#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace audio::aes67 {

namespace {

constexpr qint64 packetNs = 1'000'000;
constexpr qint64 primeFrames = 480; // 10 ms
constexpr int stopWaitMs = 2000;

sockaddr_in socketAddress(const QHostAddress &address, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address.isNull() ? INADDR_ANY : address.toIPv4Address());
    return a;
}

void sleepUntil(qint64 ns)
{
    timespec t{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) { }
}

// Wakes the thread on its deadline: no timer slack (ordinary threads get 50 µs), and a real-time
// priority where the system grants one; the stream runs without it where it does not.
void tightenTiming()
{
    prctl(PR_SET_TIMERSLACK, 1UL);
    realtime::raiseToAudioPriority(pthread_self());
}

} // namespace

RtpSendThread::RtpSendThread(FrameRing &ring)
    : ring_(ring)
{ }

RtpSendThread::~RtpSendThread()
{
    stop();
}

bool RtpSendThread::openSocket(QString *error)
{
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in source = socketAddress(settings_.source, 0);
    const int ttl = settings_.ttl;
    const bool ok
            = socket_ >= 0
              && ::bind(socket_, reinterpret_cast<const sockaddr *>(&source), sizeof source) == 0
              && setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0
              && setsockopt(socket_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0
              && (settings_.source.isNull()
                  || setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_IF, &source.sin_addr,
                                sizeof source.sin_addr)
                             == 0);
    if (ok)
        return true;
    *error = QStringLiteral("RTP %1: %2")
                     .arg(settings_.source.toString(), QString::fromLocal8Bit(strerror(errno)));
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
    return false;
}

bool RtpSendThread::start(const RtpStreamSettings &settings, QString *error)
{
    stop();
    settings_ = settings;
    settings_.channels = qBound(1, settings.channels, FrameRing::slotsPerFrame);
    if (!openSocket(error))
        return false;
    float stale[framesPerPacket * FrameRing::slotsPerFrame];
    while (ring_.read(stale, framesPerPacket) > 0) { }
    ring_.clearStop();
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
    return true;
}

void RtpSendThread::stop()
{
    if (thread_) {
        ring_.requestStop();
        thread_->wait(QDeadlineTimer(stopWaitMs));
        thread_.reset();
    }
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

bool RtpSendThread::isRunning() const
{
    return thread_ && thread_->isRunning();
}

void RtpSendThread::run()
{
    tightenTiming();
    const sockaddr_in destination = socketAddress(settings_.destination, settings_.port);
    float frames[framesPerPacket * FrameRing::slotsPerFrame] = {};
    char packet[maxRtpPacketBytes];
    RtpHeader header{settings_.firstSequence, settings_.firstTimestamp, settings_.ssrc};
    bool primed = false;
    for (qint64 n = 0;; ++n) {
        sleepUntil(settings_.startNs + n * packetNs);
        if (ring_.stopRequested())
            return;
        const qint64 waiting = ring_.available();
        primed = primed || waiting >= primeFrames;
        int valid = 0;
        if (primed && waiting >= framesPerPacket) {
            ring_.read(frames, framesPerPacket);
            valid = ring_.channelCount();
        } else if (primed) {
            primed = false;
            underruns_.fetch_add(1, std::memory_order_relaxed);
        }
        const int size = writeRtpPacket(packet, header, frames, framesPerPacket, settings_.channels,
                                        valid);
        if (::sendto(socket_, packet, size_t(size), 0,
                     reinterpret_cast<const sockaddr *>(&destination), sizeof destination)
            == size)
            packets_.fetch_add(1, std::memory_order_relaxed);
        ++header.sequence;
        header.timestamp += framesPerPacket;
    }
}

} // namespace audio::aes67
