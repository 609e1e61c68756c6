#include "audio/aes67/PtpClock.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/StampedUdpSocket.h"
#include "common/Log.h"
#include "common/MainThread.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <tuple>

namespace audio::aes67 {

namespace {

const char tag[] = "[PtpClock]";

constexpr int offsetWindow = 5;
constexpr qint64 lockThresholdNs = 50'000;
constexpr int lockSteps = 8;
constexpr qint64 degradeThresholdNs = 500'000;
constexpr int degradeSteps = 4;
constexpr qint64 maxPathDelayNs = 100'000'000;
constexpr int delayRequestIntervalMs = 1000;
constexpr int announceWatchIntervalMs = 1000;
// The announce receipt time-out: this many announce intervals of the master, but never less than
// the floor, and of intervals within the range a master may really announce at (1/16 s to 16 s).
constexpr int announceReceiptIntervals = 3;
constexpr qint64 minReceiptTimeoutNs = 3'000'000'000;
constexpr int minLogAnnounceInterval = -4;
constexpr int maxLogAnnounceInterval = 4;

qint64 receiptTimeoutNs(qint8 logAnnounceInterval)
{
    const int log2
            = std::clamp(int(logAnnounceInterval), minLogAnnounceInterval, maxLogAnnounceInterval);
    const qint64 intervalNs = log2 >= 0 ? 1'000'000'000LL << log2 : 1'000'000'000LL >> -log2;
    return std::max(announceReceiptIntervals * intervalNs, minReceiptTimeoutNs);
}

// EUI-64 from the first usable hardware address, with the universal/local bit flipped; random
// (locally administered) when the machine has none.
QByteArray makeClockIdentity()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        const QStringList parts = interface.hardwareAddress().split(QLatin1Char(':'));
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)
            || parts.size() != 6)
            continue;
        QByteArray m;
        for (const QString &part : parts)
            m.append(char(part.toUInt(nullptr, 16)));
        const char identity[8]
                = {char(m[0] ^ 0x02), m[1], m[2], char(0xFF), char(0xFE), m[3], m[4], m[5]};
        return QByteArray(identity, 8);
    }
    QByteArray random(8, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(random.data()), 2);
    random[0] = char(random[0] | 0x02);
    return random;
}

// Lower wins, compared in this order; the identity bytes break the last tie.
bool better(const PtpClock::ForeignMaster &a, const PtpClock::ForeignMaster &b)
{
    const auto rank = [](const ptp::AnnounceFields &m) {
        return std::make_tuple(m.priority1, m.clockClass, m.clockAccuracy,
                               m.offsetScaledLogVariance, m.priority2);
    };
    if (rank(a.announce) != rank(b.announce))
        return rank(a.announce) < rank(b.announce);
    const QByteArray &x = a.announce.grandmasterIdentity, &y = b.announce.grandmasterIdentity;
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                        [](char p, char q) { return quint8(p) < quint8(q); });
}

} // namespace

PtpClock *PtpClock::instance()
{
    static PtpClock clock;
    return &clock;
}

PtpClock::PtpClock()
    : clockIdentity_(makeClockIdentity())
{
    qRegisterMetaType<State>();
    snt::moveToMainThread(this);
}

PtpClock::~PtpClock()
{
    stop();
}

qint64 PtpClock::monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

bool PtpClock::start(const QNetworkInterface &interface)
{
    stop();
    const QHostAddress group{QLatin1String(ptpGroup)};
    // Delay requests are answered by the master to the group; one hop is enough.
    constexpr int ttl = 1;
    QString error;
    eventSocket_ = new StampedUdpSocket(this);
    generalSocket_ = new StampedUdpSocket(this);
    if (!eventSocket_->open(ptpEventPort, group, interface, ttl, &error)
        || !generalSocket_->open(ptpGeneralPort, group, interface, ttl, &error)) {
        sntWarning(lcAes67, tag) << "cannot listen:" << error;
        stop();
        return false;
    }
    interface_ = interface;
    connect(eventSocket_, &StampedUdpSocket::readyRead, this, &PtpClock::onEventReadyRead);
    connect(generalSocket_, &StampedUdpSocket::readyRead, this, &PtpClock::onGeneralReadyRead);
    delayRequestTimer_ = new QTimer(this);
    delayRequestTimer_->setInterval(delayRequestIntervalMs);
    connect(delayRequestTimer_, &QTimer::timeout, this, &PtpClock::sendDelayRequest);
    delayRequestTimer_->start();
    announceWatch_ = new QTimer(this);
    announceWatch_->setInterval(announceWatchIntervalMs);
    connect(announceWatch_, &QTimer::timeout, this, [this] { expireMasters(monotonicNs()); });
    announceWatch_->start();
    return true;
}

void PtpClock::stop()
{
    delete delayRequestTimer_;
    delayRequestTimer_ = nullptr;
    delete announceWatch_;
    announceWatch_ = nullptr;
    delete eventSocket_;
    eventSocket_ = nullptr;
    delete generalSocket_;
    generalSocket_ = nullptr;
    foreignMasters_.clear();
    selectedKey_.clear();
    grandmasterIdentity_.clear();
    selectedPort_ = {};
    twoStepSeen_ = awaitingFollowUp_ = syncProcessed_ = servoRan_ = false;
    delayRequestPending_ = false;
    resetMapping();
    if (state_.load() != Idle)
        setState(Idle);
}

void PtpClock::resetMapping()
{
    rateRatio_ = smoothedRatio_ = 1.0;
    anchorLocal_ = anchorMaster_ = previousMaster_ = previousLocal_ = 0;
    hasPreviousSample_ = false;
    offsets_.clear();
    lastMedian_ = 0;
    lockCount_ = degradeCount_ = syncsFollowed_ = 0;
    meanPathDelay_ = 0.0;
}

void PtpClock::setState(State state)
{
    if (state_.exchange(state) != state)
        emit stateChanged(state);
}

void PtpClock::fillStreamClock(StreamDescription &description) const
{
    description.grandmasterIdentity = state() == Locked ? grandmasterIdentity_ : QString();
    description.domain = domain_;
}

qint64 PtpClock::toMaster(qint64 localNs) const
{
    return anchorMaster_ + qint64(double(localNs - anchorLocal_) * rateRatio_);
}

void PtpClock::onEventReadyRead()
{
    QByteArray data;
    qint64 receivedNs = 0;
    while (eventSocket_ && eventSocket_->read(data, receivedNs))
        processEventDatagram(data, receivedNs);
}

void PtpClock::onGeneralReadyRead()
{
    QByteArray data;
    qint64 receivedNs = 0;
    while (generalSocket_ && generalSocket_->read(data, receivedNs))
        processGeneralDatagram(data, receivedNs);
}

bool PtpClock::fromSelectedMaster(const ptp::Message &m) const
{
    return !selectedKey_.isEmpty() && m.domainNumber == domain_
           && m.sourcePortIdentity == selectedPort_;
}

void PtpClock::processEventDatagram(const QByteArray &datagram, qint64 receivedNs)
{
    ptp::Message m;
    if (!ptp::parseMessage(datagram, m) || m.messageType != ptp::Sync
        || m.sourcePortIdentity.clockIdentity == clockIdentity_ || !fromSelectedMaster(m))
        return;
    if (syncProcessed_ && m.sequenceId == lastSyncSequence_)
        return;
    if (!m.twoStep()) {
        awaitingFollowUp_ = false;
        lastSyncSequence_ = m.sequenceId;
        syncProcessed_ = true;
        runServo(m.timeNs + m.correctionNs(), receivedNs);
        return;
    }
    if (twoStepSeen_ && awaitingFollowUp_ && pendingSyncSequence_ == m.sequenceId)
        return;
    pendingSyncSequence_ = m.sequenceId;
    pendingSyncReceivedNs_ = receivedNs;
    pendingSyncCorrectionNs_ = m.correctionNs();
    twoStepSeen_ = awaitingFollowUp_ = true;
}

void PtpClock::processGeneralDatagram(const QByteArray &datagram, qint64 receivedNs)
{
    ptp::Message m;
    if (!ptp::parseMessage(datagram, m) || m.sourcePortIdentity.clockIdentity == clockIdentity_)
        return;
    switch (m.messageType) {
    case ptp::FollowUp:
        handleFollowUp(m);
        break;
    case ptp::DelayResp:
        handleDelayResp(m);
        break;
    case ptp::Announce:
        handleAnnounce(m, receivedNs);
        break;
    default:
        break;
    }
}

void PtpClock::handleFollowUp(const ptp::Message &m)
{
    if (!fromSelectedMaster(m) || !twoStepSeen_ || !awaitingFollowUp_
        || m.sequenceId != pendingSyncSequence_)
        return;
    awaitingFollowUp_ = false;
    lastSyncSequence_ = m.sequenceId;
    syncProcessed_ = true;
    const qint64 t1 = m.timeNs + pendingSyncCorrectionNs_ + m.correctionNs();
    runServo(t1, pendingSyncReceivedNs_);
}

void PtpClock::handleDelayResp(const ptp::Message &m)
{
    if (!fromSelectedMaster(m) || m.requestingPortIdentity.clockIdentity != clockIdentity_
        || !delayRequestPending_ || m.sequenceId != delayRequestSequence_ || !servoRan_)
        return;
    delayRequestPending_ = false;
    const qint64 t4 = m.timeNs - m.correctionNs();
    const qint64 d = ((toMaster(t2_) - t1_) + (t4 - toMaster(t3_))) / 2;
    if (d < 0 || d > maxPathDelayNs) {
        sntWarning(lcAes67, tag) << "implausible mpd" << d << "ns, ignored";
        return;
    }
    meanPathDelay_ = meanPathDelay_ > 0 ? meanPathDelay_ * 2.0 / 3.0 + double(d) / 3.0 : double(d);
}

void PtpClock::handleAnnounce(const ptp::Message &m, qint64 receivedNs)
{
    if (!m.hasAnnounce || m.domainNumber != domain_)
        return;
    const QString key = ptp::clockIdentityToString(m.announce.grandmasterIdentity);
    if (key.isEmpty())
        return;
    if (!foreignMasters_.contains(key))
        masterLimit_.makeRoom(
                foreignMasters_, [](const ForeignMaster &f) { return f.heardNs; },
                [this](const QString &oldest) { foreignMasters_.remove(oldest); }, selectedKey_);
    ForeignMaster &master = foreignMasters_[key];
    master.originTimestamp = m.timestamp;
    master.announce = m.announce;
    master.domainNumber = m.domainNumber;
    master.port = m.sourcePortIdentity;
    master.heardNs = receivedNs;
    master.receiptTimeoutNs = receiptTimeoutNs(m.logMessageInterval);
    if (key == selectedKey_)
        selectedPort_ = master.port;
    selectGrandmaster();
}

void PtpClock::expireMasters(qint64 nowNs)
{
    QStringList gone;
    for (auto it = foreignMasters_.cbegin(); it != foreignMasters_.cend(); ++it) {
        if (nowNs - it->heardNs > it->receiptTimeoutNs)
            gone.append(it.key());
    }
    for (const QString &key : std::as_const(gone)) {
        sntInfo(lcAes67, tag) << "master" << key << "stopped announcing, dropped";
        foreignMasters_.remove(key);
    }
    if (!gone.isEmpty())
        selectGrandmaster();
}

void PtpClock::selectGrandmaster()
{
    if (foreignMasters_.isEmpty()) {
        if (!selectedKey_.isEmpty()) {
            selectedKey_.clear();
            grandmasterIdentity_.clear();
            emit grandmasterChanged(QString());
            setState(NoGrandmaster);
        }
        return;
    }
    auto best = foreignMasters_.cbegin();
    for (auto it = foreignMasters_.cbegin(); it != foreignMasters_.cend(); ++it) {
        if (better(*it, *best))
            best = it;
    }
    if (best.key() == selectedKey_)
        return;
    selectedKey_ = grandmasterIdentity_ = best.key();
    selectedPort_ = best->port;
    domain_ = best->domainNumber;
    resetMapping();
    twoStepSeen_ = awaitingFollowUp_ = syncProcessed_ = servoRan_ = false;
    delayRequestPending_ = false;
    emit grandmasterChanged(grandmasterIdentity_);
    sntInfo(lcAes67, tag) << "grandmaster selected:" << grandmasterIdentity_ << "domain" << domain_;
    setState(Locking);
}

void PtpClock::runServo(qint64 t1, qint64 t2)
{
    servoRan_ = true;
    ++syncsFollowed_;
    t1_ = t1;
    t2_ = t2;
    const qint64 masterNow = t1 + qint64(meanPathDelay_);
    const qint64 predicted = toMaster(t2);
    qint64 anchorMaster = masterNow;
    if (hasPreviousSample_) {
        const qint64 dm = masterNow - previousMaster_;
        const qint64 dl = t2 - previousLocal_;
        if (dm > 0 && dl > 0) {
            smoothedRatio_ += (double(dl) / double(dm) - smoothedRatio_) * 0.1;
            rateRatio_ = std::clamp(1.0 / smoothedRatio_, 0.9999, 1.0001);
        }
        anchorMaster = predicted - qint64(double(predicted - masterNow) * 0.3);
    }
    hasPreviousSample_ = true;
    previousLocal_ = anchorLocal_ = t2;
    anchorMaster_ = anchorMaster;
    previousMaster_ = masterNow;

    const qint64 offset = toMaster(t2) - t1 - qint64(meanPathDelay_);
    offsets_.push_back(offset);
    while (offsets_.size() > offsetWindow)
        offsets_.pop_front();
    lastMedian_ = medianOffset();
    lockCount_ = std::abs(lastMedian_) < lockThresholdNs ? lockCount_ + 1 : 0;

    if (state() == Locking && lockCount_ >= lockSteps) {
        setState(Locked);
        sntInfo(lcAes67, tag) << "LOCKED to" << grandmasterIdentity_ << "offset" << lastMedian_
                              << "ns, mpd" << meanPathDelay_ << "ns";
    } else if (state() == Locked) {
        degradeCount_ = std::abs(lastMedian_) > degradeThresholdNs ? degradeCount_ + 1 : 0;
        if (degradeCount_ >= degradeSteps) {
            sntWarning(lcAes67, tag) << "degraded (offset" << lastMedian_ << "ns), back to Locking";
            lockCount_ = degradeCount_ = 0;
            setState(Locking);
        }
    }
}

qint64 PtpClock::medianOffset() const
{
    std::vector<qint64> sorted(offsets_.begin(), offsets_.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
}

QByteArray PtpClock::nextDelayRequest(qint64 sentNs)
{
    if (!servoRan_)
        return QByteArray();
    ++delayRequestSequence_;
    t3_ = sentNs;
    delayRequestPending_ = true;
    return ptp::buildDelayReq({clockIdentity_, portNumber_}, domain_, delayRequestSequence_);
}

void PtpClock::sendDelayRequest()
{
    const QByteArray request = nextDelayRequest(monotonicNs());
    if (request.isEmpty() || !eventSocket_)
        return;
    eventSocket_->send(request, QHostAddress(QLatin1String(ptpGroup)), ptpEventPort, t3_);
}

} // namespace audio::aes67
