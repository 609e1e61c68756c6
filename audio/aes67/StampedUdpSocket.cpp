#include "audio/aes67/StampedUdpSocket.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace audio::aes67 {

namespace {

// How long a send waits for the kernel's time of its datagram leaving.
constexpr int sendStampWaitMs = 2;

qint64 nowNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The kernel's software time stamp of a message (on the real-time clock), moved to the monotonic
// clock; `fallbackNs` when the message carries none.
qint64 monotonicStamp(msghdr &message, qint64 fallbackNs)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING)
            continue;
        scm_timestamping stamps;
        memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
        const qint64 real = qint64(stamps.ts[0].tv_sec) * 1'000'000'000 + stamps.ts[0].tv_nsec;
        return nowNs(CLOCK_MONOTONIC) - qMax(nowNs(CLOCK_REALTIME) - real, qint64(0));
    }
    return fallbackNs;
}

} // namespace

StampedUdpSocket::StampedUdpSocket(QObject *parent)
    : QObject(parent)
{ }

StampedUdpSocket::~StampedUdpSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool StampedUdpSocket::open(quint16 port, const QHostAddress &group,
                            const QNetworkInterface &interface, int ttl, QString *error)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int stamping = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_TX_SOFTWARE
                         | SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    ip_mreqn membership{};
    membership.imr_multiaddr.s_addr = htonl(group.toIPv4Address());
    membership.imr_ifindex = interface.index();
    const bool ok
            = fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
              && setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &stamping, sizeof stamping) == 0
              && ::bind(fd_, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0
              && setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0
              && setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &membership, sizeof membership) == 0
              && setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0;
    if (!ok) {
        *error = QStringLiteral("port %1 on %2: %3")
                         .arg(port)
                         .arg(interface.name(), QString::fromLocal8Bit(strerror(errno)));
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StampedUdpSocket::readyRead);
    return true;
}

bool StampedUdpSocket::read(QByteArray &datagram, qint64 &receivedNs)
{
    char data[1500];
    alignas(cmsghdr) char control[256];
    iovec io{data, sizeof data};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = ::recvmsg(fd_, &message, 0);
    if (size < 0)
        return false;
    datagram = QByteArray(data, qsizetype(size));
    receivedNs = monotonicStamp(message, nowNs(CLOCK_MONOTONIC));
    return true;
}

bool StampedUdpSocket::send(const QByteArray &datagram, const QHostAddress &to, quint16 port,
                            qint64 &sentNs)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(to.toIPv4Address());
    if (::sendto(fd_, datagram.constData(), size_t(datagram.size()), 0,
                 reinterpret_cast<const sockaddr *>(&address), sizeof address)
        != datagram.size())
        return false;
    sentNs = nowNs(CLOCK_MONOTONIC);
    // The kernel reports when the datagram left on the socket's error queue, at once for a
    // software stamp.
    pollfd wait{fd_, POLLPRI, 0};
    if (::poll(&wait, 1, sendStampWaitMs) < 1)
        return true;
    alignas(cmsghdr) char control[256];
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(fd_, &message, MSG_ERRQUEUE) >= 0)
        sentNs = monotonicStamp(message, sentNs);
    return true;
}

} // namespace audio::aes67
