#pragma once

#include "audio/NetworkSink.h"
#include "audio/aes67/FrameRing.h"
#include "audio/aes67/SenderConfig.h"
#include "audio/aes67/Types.h"

#include <QNetworkInterface>
#include <QObject>
#include <atomic>
#include <memory>

namespace audio::aes67 {

class RtpSendThread;
class SapAnnouncer;

// The process-wide network audio sender. Generators whose output is the network output hand
// every block they produce to push(), on the generator thread; push() stores it in the frame
// ring, and the send thread turns the ring into an RTP stream once the sender is started.
// Everything else of the sender lives in the application's main thread, whichever thread first
// asks for the sender.
//
// A started sender also announces its stream by SAP (one session id for the sender's life, the
// version raised whenever the description changes), follows the PTP clock, serves the same
// description through the RTSP responder, and advertises the responder by mDNS. The stack is stopped when the application quits; the destructor, which
// runs after that, touches no socket.
class Sender
    : public QObject
    , public NetworkSink
{
    Q_OBJECT
public:
    static Sender *instance();
    ~Sender() override;

    static SenderConfig defaultConfig() { return SenderConfig(); }
    SenderConfig config() const { return config_; }
    // Takes effect at the next start; channels are kept within 1 to 8.
    void setConfig(const SenderConfig &config);

    // Starts streaming from `localAddress` on `interface`: the PTP clock, the send thread, the
    // SAP announcer, the RTSP responder on that address and the mDNS advertisement. A PTP clock that cannot listen leaves the stream
    // on local time. False, with errorOccurred, when the stream's socket cannot be opened.
    bool start(const QNetworkInterface &interface, const QHostAddress &localAddress);
    void stop();

    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    // The switch that starting and stopping flip; push() takes blocks only while it is on.
    void setRunning(bool running);

    // Builds the SDP of the own stream and hands it to the announcer; a changed description
    // gets the next session version.
    void announce();
    // The own stream as seen from `source` (the announcement's or an RTSP client's local
    // address), with the sender's one session id, the current version and the clock fields.
    StreamDescription describe(const QHostAddress &source) const;

    // Frames lost to overflow since the sender was created.
    qint64 droppedFrames() const { return droppedFrames_.load(std::memory_order_relaxed); }
    // Set once a block arrived at a rate other than 48000 Hz.
    bool rateMismatch() const { return rateMismatch_.load(std::memory_order_relaxed); }
    // Packets sent and underruns of the stream since its start.
    qint64 packetsSent() const;
    qint64 underruns() const;

    FrameRing &ring() { return *ring_; }

public slots:
    // Takes one interleaved block from a test-signal source. Never blocks, never allocates: a
    // block that does not fit pushes out the oldest unread frames, which are counted as dropped.
    // The ring has room for one writer; a block arriving while another thread is inside push()
    // (two generators playing at once) is dropped and counted instead of corrupting the ring.
    void push(const float *data, qlonglong frames, int channels, int sampleRate) override;

signals:
    void runningChanged(bool running);
    void errorOccurred(QString message);

private:
    Sender();
    void onClockChanged();

    const std::unique_ptr<FrameRing> ring_;
    std::unique_ptr<RtpSendThread> sendThread_;
    SapAnnouncer *announcer_ = nullptr;
    SenderConfig config_;
    QHostAddress localAddress_;
    QNetworkInterface interface_;
    std::atomic<bool> running_{false};
    std::atomic<qint64> droppedFrames_{0};
    std::atomic<bool> rateMismatch_{false};
    std::atomic<bool> writing_{false};

    const quint32 sessionId_;
    qint32 sessionVersion_ = 1;
    QString lastSdp_; // the description last announced, at its version
};

} // namespace audio::aes67
