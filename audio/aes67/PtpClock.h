#pragma once

#include "audio/aes67/PtpMessage.h"
#include "audio/aes67/TableLimit.h"
#include "audio/aes67/Types.h"

#include <QMap>
#include <QNetworkInterface>
#include <QObject>
#include <atomic>
#include <deque>

class QTimer;

namespace audio::aes67 {

class StampedUdpSocket;

// The process-wide PTP version 2 slave clock. It keeps the masters that announce themselves,
// selects the best as grandmaster, follows that master's Sync (one- or two-step) to map local
// monotonic time to master time, measures the path delay with its own Delay_Req, and reports
// Locked once the median of the recent offsets stays under 50 µs.
//
// Only the selected master's port is listened to for Sync, Follow_Up and Delay_Resp: a second
// master on the network would otherwise feed another timebase into the mapping. All times are
// 64-bit integer nanoseconds; only the rate ratio is a double.
//
// A master that stops announcing is gone once three of its announce intervals (at least 3 s)
// have passed without one, as IEEE 1588's announce receipt time-out has it: the best remaining
// master is chosen, or the clock has no grandmaster. At most 64 masters are kept; spoofed
// announcements beyond that push out the least recently heard, never the selected one.
class PtpClock : public QObject
{
    Q_OBJECT
public:
    enum State : qint32 { Idle = 0, Locking = 1, Locked = 2, NoGrandmaster = 3 };
    Q_ENUM(State)

    struct ForeignMaster
    {
        ptp::Timestamp originTimestamp;
        ptp::AnnounceFields announce;
        quint8 domainNumber = 0;
        ptp::PortIdentity port; // the port that announced it: the only one followed
        qint64 heardNs = 0; // local time of its latest Announce
        qint64 receiptTimeoutNs = 0; // silence after which it is gone
    };

    static constexpr qsizetype maxForeignMasters = 64;

    static PtpClock *instance();
    ~PtpClock() override;

    // Listens on the PTP event and general ports (shared with other programs) for the PTP group
    // on `interface` and starts sending delay requests. False, with a log line, when a port
    // cannot be bound or the group not joined; the clock then stays stopped.
    bool start(const QNetworkInterface &interface);
    void stop();
    bool isStarted() const { return eventSocket_ != nullptr; }

    State state() const { return state_.load(); }
    QString grandmasterIdentity() const { return grandmasterIdentity_; }
    quint8 domain() const { return domain_; }
    QByteArray clockIdentity() const { return clockIdentity_; }
    double rateRatio() const { return rateRatio_; }
    double meanPathDelay() const { return meanPathDelay_; }
    qint64 lastMedian() const { return lastMedian_; }
    // Syncs of the selected master that ran the servo since it was selected.
    int syncsFollowed() const { return syncsFollowed_; }

    // Names the grandmaster while Locked; always sets the domain.
    void fillStreamClock(StreamDescription &description) const;
    // Master time (ns since the PTP epoch) at a local monotonic time; meaningful while Locked.
    qint64 masterTimeNs(qint64 localNs) const { return toMaster(localNs); }

    // One datagram of the event (Sync) or general (Follow_Up, Delay_Resp, Announce) port, with
    // its local receive time on monotonicNs(): the kernel's, so that a busy GUI thread does not
    // shift it.
    void processEventDatagram(const QByteArray &datagram, qint64 receivedNs);
    void processGeneralDatagram(const QByteArray &datagram, qint64 receivedNs);
    // The next Delay_Req to send, recorded as pending with its send time; empty until a Sync of
    // the selected master has been followed.
    QByteArray nextDelayRequest(qint64 sentNs);
    // Drops the masters whose announce receipt time-out has run out by local time `nowNs`, and
    // chooses again when one of them was the grandmaster. Runs every second while started.
    void expireMasters(qint64 nowNs);
    QStringList foreignMasters() const { return foreignMasters_.keys(); }

    static qint64 monotonicNs();

public slots:
    void onEventReadyRead();
    void onGeneralReadyRead();

signals:
    void stateChanged(audio::aes67::PtpClock::State state);
    void grandmasterChanged(QString clockIdentity);

private:
    PtpClock();

    void handleFollowUp(const ptp::Message &m);
    void handleDelayResp(const ptp::Message &m);
    void handleAnnounce(const ptp::Message &m, qint64 receivedNs);
    bool fromSelectedMaster(const ptp::Message &m) const;
    void selectGrandmaster();
    void runServo(qint64 t1, qint64 t2);
    qint64 medianOffset() const;
    void setState(State state);
    void resetMapping();
    void sendDelayRequest();
    qint64 toMaster(qint64 localNs) const;

    StampedUdpSocket *eventSocket_ = nullptr;
    StampedUdpSocket *generalSocket_ = nullptr;
    QTimer *delayRequestTimer_ = nullptr;
    QTimer *announceWatch_ = nullptr;
    QNetworkInterface interface_;

    QMap<QString, ForeignMaster> foreignMasters_;
    TableLimit masterLimit_{"[PtpClock]", "foreign masters", maxForeignMasters};
    QString selectedKey_;
    QString grandmasterIdentity_;
    ptp::PortIdentity selectedPort_;
    quint8 domain_ = 0;

    // Two-step Sync waiting for its Follow_Up.
    quint16 pendingSyncSequence_ = 0;
    qint64 pendingSyncReceivedNs_ = 0;
    qint64 pendingSyncCorrectionNs_ = 0;
    bool twoStepSeen_ = false;
    bool awaitingFollowUp_ = false;

    quint16 lastSyncSequence_ = 0;
    bool syncProcessed_ = false;
    qint64 t1_ = 0; // master origin time of the last Sync, corrections included
    qint64 t2_ = 0; // its local receive time
    bool servoRan_ = false;

    quint16 delayRequestSequence_ = 0;
    qint64 t3_ = 0;
    bool delayRequestPending_ = false;

    // Local monotonic time to master time.
    double rateRatio_ = 1.0;
    qint64 anchorLocal_ = 0;
    qint64 anchorMaster_ = 0;
    double smoothedRatio_ = 1.0;
    bool hasPreviousSample_ = false;
    qint64 previousMaster_ = 0;
    qint64 previousLocal_ = 0;

    std::deque<qint64> offsets_;
    qint64 lastMedian_ = 0;
    int lockCount_ = 0;
    int degradeCount_ = 0;
    int syncsFollowed_ = 0;
    std::atomic<State> state_{Idle};
    double meanPathDelay_ = 0.0;

    QByteArray clockIdentity_;
    static constexpr quint16 portNumber_ = 1;
};

} // namespace audio::aes67
