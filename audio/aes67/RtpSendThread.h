#pragma once

#include <QHostAddress>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

namespace audio::aes67 {

class FrameRing;

struct RtpStreamSettings
{
    QHostAddress source; // bound and used as the multicast interface; any when null
    QHostAddress destination;
    quint16 port = 0;
    int channels = 2;
    int ttl = 32;
    qint64 startNs = 0; // monotonic time of the first packet
    quint32 firstTimestamp = 0;
    quint16 firstSequence = 0;
    quint32 ssrc = 0;
};

// The reader of the sender's frame ring: one RTP packet of 48 frames every millisecond, on
// absolute deadlines of the monotonic clock that also paces the generator, so the ring's fill
// never drifts. Sequence numbers grow by 1 and timestamps by 48 per packet. When fewer than 48
// frames wait the packet goes out as silence and the underrun is counted; after that, and at the
// start, the thread waits for 10 ms of audio before it reads again, so the generator's 5 ms
// blocks find room for jitter. The thread neither allocates nor locks nor logs; it ends when the
// ring's stop flag is set.
class RtpSendThread
{
public:
    explicit RtpSendThread(FrameRing &ring);
    ~RtpSendThread();

    // Opens the socket and starts sending; frames left in the ring from before are dropped.
    // False, with the reason in `error`, when the socket cannot be set up.
    bool start(const RtpStreamSettings &settings, QString *error);
    // Sets the ring's stop flag and waits for the thread (at most 2 s; it ends within 1 ms).
    void stop();
    bool isRunning() const;

    qint64 packetsSent() const { return packets_.load(std::memory_order_relaxed); }
    qint64 underruns() const { return underruns_.load(std::memory_order_relaxed); }

private:
    bool openSocket(QString *error);
    void run();

    FrameRing &ring_;
    RtpStreamSettings settings_;
    int socket_ = -1;
    std::unique_ptr<QThread> thread_;
    std::atomic<qint64> packets_{0};
    std::atomic<qint64> underruns_{0};
};

} // namespace audio::aes67
