#include "PtpWire.h"
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/PtpMessage.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <limits>
#include <random>

using audio::aes67::PtpClock;
using audio::aes67::StreamDescription;
namespace ptp = audio::aes67::ptp;

namespace {

// tshark's reading of every datagram of the captured ptp4l traffic, field by field.
const QStringList tsharkFields = {
        "udp.payload", "ptp.v2.messagetype", "ptp.v2.messagelength", "ptp.v2.domainnumber",
        "ptp.v2.flags", "ptp.v2.correction.ns", "ptp.v2.clockidentity", "ptp.v2.sourceportid",
        "ptp.v2.sequenceid", "ptp.v2.controlfield", "ptp.v2.logmessageperiod",
        // the timestamp at offset 34, by type
        "ptp.v2.sdr.origintimestamp.seconds", "ptp.v2.sdr.origintimestamp.nanoseconds",
        "ptp.v2.fu.preciseorigintimestamp.seconds", "ptp.v2.fu.preciseorigintimestamp.nanoseconds",
        "ptp.v2.dr.receivetimestamp.seconds", "ptp.v2.dr.receivetimestamp.nanoseconds",
        "ptp.v2.an.origintimestamp.seconds", "ptp.v2.an.origintimestamp.nanoseconds",
        "ptp.v2.dr.requestingsourceportidentity", "ptp.v2.dr.requestingsourceportid",
        "ptp.v2.an.origincurrentutcoffset", "ptp.v2.an.priority1",
        "ptp.v2.an.grandmasterclockclass", "ptp.v2.an.grandmasterclockaccuracy",
        "ptp.v2.an.grandmasterclockvariance", "ptp.v2.an.priority2",
        "ptp.v2.an.grandmasterclockidentity", "ptp.v2.an.localstepsremoved", "ptp.v2.timesource"};

QList<QStringList> tsharkRows()
{
    QStringList args
            = {"-r", QFINDTESTDATA("data/ptp4l.pcap"), "-T", "fields", "-E", "separator=;"};
    for (const QString &field : tsharkFields)
        args << "-e" << field;
    QProcess tshark;
    tshark.start("tshark", args);
    if (!tshark.waitForFinished(30000) || tshark.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    for (const QByteArray &line : tshark.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            rows.append(QString::fromLatin1(line).split(';'));
    }
    return rows;
}

qulonglong number(const QString &text)
{
    return text.toULongLong(nullptr, 0); // tshark writes some fields in hex ("0x0b")
}

QString identityHex(const QByteArray &identity)
{
    return "0x" + QString::fromLatin1(identity.toHex());
}

const ptpwire::Port masterA{QByteArray::fromHex("02aaaafffe000001"), 1};
const ptpwire::Port masterB{QByteArray::fromHex("02aaaafffe000002"), 1};

// Master time around today (epoch scale, where a double resolves only 256 ns), local monotonic
// time around a day of uptime.
constexpr qint64 masterEpochNs = 1'796'588'487'000'000'000;
constexpr qint64 localStartNs = 86'400'000'000'000;
constexpr qint64 syncIntervalNs = 125'000'000;

// Feeds one two-step Sync and its Follow_Up of `port`: sent at master time `masterNs`,
// received at local time `localNs`.
void feedSync(PtpClock *clock, const ptpwire::Port &port, quint16 sequence, qint64 masterNs,
              qint64 localNs, qint64 correctionNs = 0)
{
    clock->processEventDatagram(ptpwire::sync(port, sequence, 0, true, correctionNs), localNs);
    clock->processGeneralDatagram(ptpwire::followUp(port, sequence, masterNs - correctionNs),
                                  localNs);
}

} // namespace

// The PTP parser against tshark on real ptp4l traffic, and the slave clock's master choice and
// servo on synthetic masters (no network).
class PtpTest : public QObject
{
    Q_OBJECT

    PtpClock *clock = nullptr;

    void selectMaster(const ptpwire::Port &port, const ptpwire::Quality &quality = {})
    {
        clock->processGeneralDatagram(ptpwire::announce(port, 1, quality), 0);
    }

private slots:
    void initTestCase() { clock = PtpClock::instance(); }
    void init() { clock->stop(); }

    void parserReadsWhatTsharkReads_data()
    {
        QTest::addColumn<QStringList>("row");
        const QList<QStringList> rows = tsharkRows();
        QVERIFY2(rows.size() >= 12, "tshark could not read the ptp4l capture");
        for (const QStringList &row : rows)
            QTest::addRow("%s %s", qPrintable(row.at(1)), qPrintable(row.at(8))) << row;
    }

    void parserReadsWhatTsharkReads()
    {
        QFETCH(QStringList, row);
        const auto field = [&row](const char *name) {
            return row.value(tsharkFields.indexOf(QLatin1String(name)));
        };
        ptp::Message m;
        QVERIFY(ptp::parseMessage(QByteArray::fromHex(field("udp.payload").toLatin1()), m));
        QCOMPARE(qulonglong(m.messageType), number(field("ptp.v2.messagetype")));
        QCOMPARE(qulonglong(m.messageLength), number(field("ptp.v2.messagelength")));
        QCOMPARE(qulonglong(m.domainNumber), number(field("ptp.v2.domainnumber")));
        QCOMPARE(qulonglong(m.flagField), number(field("ptp.v2.flags")));
        QCOMPARE(m.correctionNs(), field("ptp.v2.correction.ns").toLongLong());
        QCOMPARE(identityHex(m.sourcePortIdentity.clockIdentity), field("ptp.v2.clockidentity"));
        QCOMPARE(qulonglong(m.sourcePortIdentity.portNumber), number(field("ptp.v2.sourceportid")));
        QCOMPARE(qulonglong(m.sequenceId), number(field("ptp.v2.sequenceid")));
        QCOMPARE(qulonglong(m.controlField), number(field("ptp.v2.controlfield")));
        QCOMPARE(int(m.logMessageInterval), field("ptp.v2.logmessageperiod").toInt());
        const char *prefix[] = {"sdr.origintimestamp",
                                "sdr.origintimestamp",
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr,
                                "fu.preciseorigintimestamp",
                                "dr.receivetimestamp",
                                nullptr,
                                "an.origintimestamp"};
        const char *stamp = m.messageType < 12 ? prefix[m.messageType] : nullptr;
        QVERIFY(stamp);
        const QString seconds = QStringLiteral("ptp.v2.%1.seconds").arg(QLatin1String(stamp));
        const QString nanoseconds
                = QStringLiteral("ptp.v2.%1.nanoseconds").arg(QLatin1String(stamp));
        QCOMPARE(qulonglong(m.timestamp.seconds), number(row.value(tsharkFields.indexOf(seconds))));
        QCOMPARE(qulonglong(m.timestamp.nanoseconds),
                 number(row.value(tsharkFields.indexOf(nanoseconds))));
        if (m.messageType == ptp::DelayResp) {
            QCOMPARE(identityHex(m.requestingPortIdentity.clockIdentity),
                     field("ptp.v2.dr.requestingsourceportidentity"));
            QCOMPARE(qulonglong(m.requestingPortIdentity.portNumber),
                     number(field("ptp.v2.dr.requestingsourceportid")));
        }
        QCOMPARE(m.hasAnnounce, m.messageType == ptp::Announce);
        if (m.hasAnnounce) {
            QCOMPARE(int(m.announce.currentUtcOffset),
                     field("ptp.v2.an.origincurrentutcoffset").toInt());
            QCOMPARE(qulonglong(m.announce.priority1), number(field("ptp.v2.an.priority1")));
            QCOMPARE(qulonglong(m.announce.clockClass),
                     number(field("ptp.v2.an.grandmasterclockclass")));
            QCOMPARE(qulonglong(m.announce.clockAccuracy),
                     number(field("ptp.v2.an.grandmasterclockaccuracy")));
            QCOMPARE(qulonglong(m.announce.offsetScaledLogVariance),
                     number(field("ptp.v2.an.grandmasterclockvariance")));
            QCOMPARE(qulonglong(m.announce.priority2), number(field("ptp.v2.an.priority2")));
            QCOMPARE(identityHex(m.announce.grandmasterIdentity),
                     field("ptp.v2.an.grandmasterclockidentity"));
            QCOMPARE(qulonglong(m.announce.stepsRemoved),
                     number(field("ptp.v2.an.localstepsremoved")));
            QCOMPARE(qulonglong(m.announce.timeSource), number(field("ptp.v2.timesource")));
        }
    }

    void parserRejects_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("accepted");
        const QByteArray sync = ptpwire::sync(masterA, 7, masterEpochNs, false);
        QTest::newRow("a Sync") << sync << true;
        QTest::newRow("33 bytes") << sync.left(33) << false;
        QByteArray version1 = sync;
        version1[1] = 1;
        QTest::newRow("version 1") << version1 << false;
        QTest::newRow("length beyond the datagram") << sync.left(43) << false;
        QByteArray short40 = sync;
        qToBigEndian(quint16(40), short40.data() + 2);
        QTest::newRow("Sync of length 40") << short40 << false;
        const QByteArray announce = ptpwire::announce(masterA, 1, {});
        QByteArray announce63 = announce;
        qToBigEndian(quint16(63), announce63.data() + 2);
        QTest::newRow("Announce of length 63") << announce63 << false;
        QByteArray signaling = ptpwire::header(12, 34, 0, 0, 0, masterA, 1, 5);
        QTest::newRow("another type, header only") << signaling << true;
    }

    void parserRejects()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, accepted);
        ptp::Message m;
        QCOMPARE(ptp::parseMessage(datagram, m), accepted);
        QCOMPARE(ptp::clockIdentityToString(QByteArray::fromHex("021DC1FFFE123456")),
                 QStringLiteral("02-1D-C1-FF-FE-12-34-56"));
    }

    void bestMasterIsSelected_data()
    {
        QTest::addColumn<ptpwire::Quality>("a");
        QTest::addColumn<ptpwire::Quality>("b");
        QTest::addColumn<int>("bDomain");
        QTest::addColumn<bool>("bWins");
        const ptpwire::Quality plain;
        ptpwire::Quality p127 = plain, betterClass = plain, betterAccuracy = plain;
        ptpwire::Quality betterVariance = plain, p2 = plain;
        p127.priority1 = 127;
        p127.clockClass = 255;
        betterClass.clockClass = 6;
        betterAccuracy.clockAccuracy = 0x20;
        betterVariance.variance = 0x4E5D;
        p2.priority2 = 1;
        QTest::newRow("equal: the lower identity") << plain << plain << 0 << false;
        QTest::newRow("priority1 127 beats any clock class") << betterClass << p127 << 0 << true;
        QTest::newRow("clock class") << plain << betterClass << 0 << true;
        QTest::newRow("clock accuracy") << plain << betterAccuracy << 0 << true;
        QTest::newRow("variance") << plain << betterVariance << 0 << true;
        QTest::newRow("priority2") << plain << p2 << 0 << true;
        QTest::newRow("another domain is not heard") << plain << p127 << 1 << false;
    }

    void bestMasterIsSelected()
    {
        QFETCH(ptpwire::Quality, a);
        QFETCH(ptpwire::Quality, b);
        QFETCH(int, bDomain);
        QFETCH(bool, bWins);
        QSignalSpy grandmaster(clock, &PtpClock::grandmasterChanged);
        clock->processGeneralDatagram(ptpwire::announce(masterA, 1, a), 0);
        clock->processGeneralDatagram(ptpwire::announce(masterB, 1, b, quint8(bDomain)), 0);
        const QString expected = bWins ? "02-AA-AA-FF-FE-00-00-02" : "02-AA-AA-FF-FE-00-00-01";
        QCOMPARE(clock->grandmasterIdentity(), expected);
        QCOMPARE(grandmaster.count(), bWins ? 2 : 1);
        QCOMPARE(clock->state(), PtpClock::Locking);
    }

    // A master running `ppm` fast against the local clock, Syncs every 125 ms, reaching the
    // receiver with a path delay; optionally with jitter and transparent-clock corrections.
    void servoFollowsTheMaster_data()
    {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<int>("lockedAt"); // the Sync that locks, 0 for never
        QTest::addColumn<double>("rate"); // the rate ratio after 300 Syncs
        QTest::addColumn<bool>("corrected"); // Syncs carry varying residence corrections
        QTest::newRow("in step") << 0.0 << 8 << 1.0 << false;
        QTest::newRow("40 ppm fast") << 40.0 << 8 << 1.00004 << false;
        QTest::newRow("25 ppm slow") << -25.0 << 8 << 0.999975 << false;
        QTest::newRow("300 ppm fast: clamped, never locks") << 300.0 << 0 << 1.0001 << false;
        QTest::newRow("transparent clock corrections") << 0.0 << 8 << 1.0 << true;
    }

    void servoFollowsTheMaster()
    {
        QFETCH(double, ppm);
        QFETCH(int, lockedAt);
        QFETCH(double, rate);
        QFETCH(bool, corrected);
        selectMaster(masterA);
        std::mt19937 random(3);
        std::uniform_int_distribution<qint64> residence(0, 400'000);
        int locked = 0;
        for (int n = 1; n <= 300; ++n) {
            const qint64 local = localStartNs + n * syncIntervalNs;
            const qint64 master
                    = masterEpochNs + qint64(double(n * syncIntervalNs) * (1 + ppm * 1e-6));
            feedSync(clock, masterA, quint16(n), master, local, corrected ? residence(random) : 0);
            if (!locked && clock->state() == PtpClock::Locked)
                locked = n;
        }
        QCOMPARE(locked, lockedAt);
        QVERIFY2(qAbs(clock->rateRatio() - rate) < 1e-6,
                 qPrintable(QString::number(clock->rateRatio(), 'f', 9)));
        QCOMPARE(clock->syncsFollowed(), 300);
        if (ppm == 0.0) {
            // Integer arithmetic at epoch scale: an exact master gives exactly zero offsets.
            QCOMPARE(clock->lastMedian(), qint64(0));
            QCOMPARE(clock->masterTimeNs(localStartNs + 300 * syncIntervalNs),
                     masterEpochNs + 300 * syncIntervalNs);
        }
    }

    void lockCountsOnlyConsecutiveSmallOffsets()
    {
        selectMaster(masterA);
        // Four good Syncs, then the master jumps by 1 ms for good: its first large offset does
        // not move the median of five, the third does, and the count starts again.
        QList<qint64> medians;
        int locked = 0;
        for (int n = 1; n <= 120 && !locked; ++n) {
            const qint64 jump = n >= 5 ? 1'000'000 : 0;
            feedSync(clock, masterA, quint16(n), masterEpochNs + n * syncIntervalNs + jump,
                     localStartNs + n * syncIntervalNs);
            medians.append(clock->lastMedian());
            locked = clock->state() == PtpClock::Locked ? n : 0;
        }
        QCOMPARE(medians.at(4), qint64(0));
        QVERIFY(qAbs(medians.at(6)) >= 50'000);
        QVERIFY2(locked >= 7 + 8, qPrintable(QString::number(locked)));
    }

    void lockedDegradesOnLargeOffsets()
    {
        selectMaster(masterA);
        QSignalSpy states(clock, &PtpClock::stateChanged);
        qint64 master = masterEpochNs;
        for (int n = 1; n <= 40; ++n) {
            // In step for 20 Syncs, then a master 1 % fast: the offsets stay far above 500 µs.
            master += n <= 20 ? syncIntervalNs : syncIntervalNs * 101 / 100;
            feedSync(clock, masterA, quint16(n), master, localStartNs + n * syncIntervalNs);
        }
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(0).at(0).value<PtpClock::State>(), PtpClock::Locked);
        QCOMPARE(states.at(1).at(0).value<PtpClock::State>(), PtpClock::Locking);
    }

    void otherMastersSyncsAreIgnored()
    {
        // Master B announces too (worse), and sends Syncs of its own timebase, one second off.
        // Only A's may reach the servo.
        ptpwire::Quality worse;
        worse.priority1 = 200;
        selectMaster(masterA);
        clock->processGeneralDatagram(ptpwire::announce(masterB, 1, worse), 0);
        int locked = 0;
        for (int n = 1; n <= 20; ++n) {
            const qint64 local = localStartNs + n * syncIntervalNs;
            feedSync(clock, masterB, quint16(1000 + n),
                     masterEpochNs + n * syncIntervalNs + 1'000'000'000, local - 30'000);
            feedSync(clock, masterA, quint16(n), masterEpochNs + n * syncIntervalNs, local);
            if (!locked && clock->state() == PtpClock::Locked)
                locked = n;
        }
        QCOMPARE(clock->grandmasterIdentity(), QStringLiteral("02-AA-AA-FF-FE-00-00-01"));
        QCOMPARE(locked, 8);
        QCOMPARE(clock->syncsFollowed(), 20);
    }

    void twoStepMatching()
    {
        selectMaster(masterA);
        clock->processEventDatagram(ptpwire::sync(masterA, 5, 0, true), localStartNs);
        clock->processGeneralDatagram(ptpwire::followUp(masterA, 6, masterEpochNs), localStartNs);
        QCOMPARE(clock->syncsFollowed(), 0); // a Follow_Up of another Sync
        clock->processGeneralDatagram(ptpwire::followUp(masterA, 5, masterEpochNs), localStartNs);
        QCOMPARE(clock->syncsFollowed(), 1);
        clock->processEventDatagram(ptpwire::sync(masterA, 5, masterEpochNs, false), localStartNs);
        QCOMPARE(clock->syncsFollowed(), 1); // the same sequence id again
        clock->processEventDatagram(
                ptpwire::sync(masterA, 6, masterEpochNs + syncIntervalNs, false),
                localStartNs + syncIntervalNs);
        QCOMPARE(clock->syncsFollowed(), 2); // a one-step Sync
    }

    void delayResponseMeasuresThePath()
    {
        // The local clock runs 3 s ahead of the master; the path takes 40 µs each way.
        constexpr qint64 ahead = 3'000'000'000, path = 40'000;
        selectMaster(masterA);
        QVERIFY(clock->nextDelayRequest(0).isEmpty()); // nothing to measure against yet
        for (int n = 1; n <= 3; ++n)
            feedSync(clock, masterA, quint16(n), masterEpochNs + n * syncIntervalNs,
                     masterEpochNs + n * syncIntervalNs + path + ahead - masterEpochNs
                             + localStartNs);
        const ptpwire::Port self{clock->clockIdentity(), 1};
        const auto exchange = [&](const ptpwire::Port &from, const ptpwire::Port &requester,
                                  qint64 extraNs) {
            const qint64 sentMaster = masterEpochNs + 4 * syncIntervalNs;
            ptp::Message request;
            QVERIFY(ptp::parseMessage(
                    clock->nextDelayRequest(sentMaster + ahead - masterEpochNs + localStartNs),
                    request));
            QCOMPARE(request.messageType, quint8(ptp::DelayReq));
            QCOMPARE(request.sourcePortIdentity.clockIdentity, clock->clockIdentity());
            clock->processGeneralDatagram(ptpwire::delayResp(from, request.sequenceId,
                                                             sentMaster + path + extraNs,
                                                             requester),
                                          0);
        };
        exchange(masterB, self, 0); // from a port that is not the master's
        exchange(masterA, {QByteArray::fromHex("0200000000000009"), 1}, 0); // for another clock
        QCOMPARE(clock->meanPathDelay(), 0.0);
        exchange(masterA, self, 0);
        QCOMPARE(clock->meanPathDelay(), double(path));
        QTest::ignoreMessage(QtWarningMsg, "[PtpClock] implausible mpd 100040000 ns, ignored");
        exchange(masterA, self, 200'000'000); // an answer 200 ms late
        QCOMPARE(clock->meanPathDelay(), double(path));
        exchange(masterA, self, 60'000); // smoothed: 2/3 of the old plus 1/3 of the new
        QCOMPARE(clock->meanPathDelay(), 40'000.0 * 2 / 3 + 70'000.0 / 3);
    }

    // Every time field at its extremes, in each message whose time the clock uses. What no
    // master can send is refused; what may be real is taken without any arithmetic overflowing
    // (which the sanitizers would stop the run for).
    void extremeTimesAreRefusedOrSurvived_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint64>("seconds");
        QTest::addColumn<quint32>("nanoseconds");
        QTest::addColumn<qint64>("correctionField"); // ns × 2^16
        QTest::addColumn<bool>("real");
        constexpr quint64 today = 1'796'588'487;
        constexpr qint64 second = 1'000'000'000LL << 16;
        const std::pair<int, const char *> types[] = {
                {ptp::Sync, "Sync"}, {ptp::FollowUp, "Follow_Up"}, {ptp::DelayResp, "Delay_Resp"}};
        for (const auto &[type, name] : types) {
            const auto row = [&](const char *what) -> QTestData & {
                return QTest::addRow("%s: %s", name, what);
            };
            row("seconds 2^48 - 1") << type << 0xFFFF'FFFF'FFFFULL << 0u << 0LL << false;
            row("seconds 2^32") << type << 0x1'0000'0000ULL << 0u << 0LL << false;
            row("the latest real time") << type << 0xFFFF'FFFFULL << 999'999'999u << 0LL << true;
            row("nanoseconds 10^9") << type << today << 1'000'000'000u << 0LL << false;
            row("nanoseconds 2^32 - 1") << type << today << 0xFFFF'FFFFu << 0LL << false;
            row("correction at the top")
                    << type << today << 0u << std::numeric_limits<qint64>::max() << false;
            row("correction at the bottom")
                    << type << today << 0u << std::numeric_limits<qint64>::min() << false;
            row("a correction of a second") << type << today << 0u << second << true;
            row("a correction of minus a second") << type << today << 0u << -second << true;
            row("just over a second") << type << today << 0u << second + 65536 << false;
            row("time zero") << type << 0ULL << 0u << 0LL << true;
        }
    }

    void extremeTimesAreRefusedOrSurvived()
    {
        QFETCH(int, type);
        QFETCH(quint64, seconds);
        QFETCH(quint32, nanoseconds);
        QFETCH(qint64, correctionField);
        QFETCH(bool, real);
        selectMaster(masterA);
        for (int n = 1; n <= 10; ++n)
            feedSync(clock, masterA, quint16(n), masterEpochNs + n * syncIntervalNs,
                     localStartNs + n * syncIntervalNs);
        QCOMPARE(clock->state(), PtpClock::Locked);
        const qint64 local = localStartNs + 11 * syncIntervalNs;

        const int length = type == ptp::DelayResp ? 54 : 44;
        const quint16 flags = 0; // a one-step Sync
        quint16 sequence = 11;
        if (type == ptp::FollowUp)
            clock->processEventDatagram(ptpwire::sync(masterA, sequence, 0, true), local);
        if (type == ptp::DelayResp) {
            ptp::Message request;
            QVERIFY(ptp::parseMessage(clock->nextDelayRequest(local), request));
            sequence = request.sequenceId;
        }
        QByteArray forged = ptpwire::header(quint8(type), length, 0, flags, correctionField,
                                            masterA, sequence, 0);
        ptpwire::putRawTimestamp(forged, 34, seconds, nanoseconds);
        if (type == ptp::DelayResp)
            memcpy(forged.data() + 44, clock->clockIdentity().constData(), 8), forged[53] = 1;
        ptp::Message m;
        QCOMPARE(ptp::parseMessage(forged, m), real);

        const int followed = clock->syncsFollowed();
        if (real && type == ptp::DelayResp)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[PtpClock\\] implausible mpd"));
        if (type == ptp::Sync)
            clock->processEventDatagram(forged, local);
        else
            clock->processGeneralDatagram(forged, local);
        if (!real) {
            QCOMPARE(clock->syncsFollowed(), followed);
            QCOMPARE(clock->state(), PtpClock::Locked);
        }
        QCOMPARE(clock->meanPathDelay(), 0.0);
        // The clock goes on following its master.
        feedSync(clock, masterA, 12, masterEpochNs + 12 * syncIntervalNs,
                 localStartNs + 12 * syncIntervalNs);
        QVERIFY(clock->syncsFollowed() > followed);
    }

    // IEEE 1588's announce receipt time-out: three announce intervals of each master, never less
    // than 3 s, for intervals from 1/16 s to 16 s.
    void silentMastersAreDropped_data()
    {
        QTest::addColumn<int>("logInterval");
        QTest::addColumn<qint64>("timeoutMs");
        QTest::newRow("every 2 s") << 1 << qint64(6000);
        QTest::newRow("every second: 3 s") << 0 << qint64(3000);
        QTest::newRow("every 16 s") << 4 << qint64(48'000);
        QTest::newRow("8 per second: at least 3 s") << -3 << qint64(3000);
        QTest::newRow("an interval beyond 16 s counts as 16 s") << 127 << qint64(48'000);
        QTest::newRow("an interval below 1/16 s counts as 1/16 s") << -128 << qint64(3000);
    }

    void silentMastersAreDropped()
    {
        QFETCH(int, logInterval);
        QFETCH(qint64, timeoutMs);
        QSignalSpy grandmaster(clock, &PtpClock::grandmasterChanged);
        QSignalSpy states(clock, &PtpClock::stateChanged);
        ptpwire::Quality worse;
        worse.priority1 = 200;
        const qint64 heardA = localStartNs, heardB = heardA + (timeoutMs - 1000) * 1'000'000;
        clock->processGeneralDatagram(ptpwire::announce(masterA, 1, {}, 0, qint8(logInterval)),
                                      heardA);
        clock->processGeneralDatagram(ptpwire::announce(masterB, 1, worse, 0, 1), heardB);
        for (int n = 1; n <= 10; ++n)
            feedSync(clock, masterA, quint16(n), masterEpochNs + n * syncIntervalNs,
                     localStartNs + n * syncIntervalNs);
        QCOMPARE(clock->state(), PtpClock::Locked);

        // A's time runs out; the best remaining master, B, takes over.
        clock->expireMasters(heardA + timeoutMs * 1'000'000);
        QCOMPARE(clock->grandmasterIdentity(), QStringLiteral("02-AA-AA-FF-FE-00-00-01"));
        QTest::ignoreMessage(
                QtInfoMsg, "[PtpClock] master 02-AA-AA-FF-FE-00-00-01 stopped announcing, dropped");
        clock->expireMasters(heardA + timeoutMs * 1'000'000 + 1);
        QCOMPARE(clock->grandmasterIdentity(), QStringLiteral("02-AA-AA-FF-FE-00-00-02"));
        QCOMPARE(clock->state(), PtpClock::Locking);
        StreamDescription description;
        clock->fillStreamClock(description);
        QVERIFY(description.grandmasterIdentity.isEmpty());

        // B, announcing every 2 s, goes 6 s after it was last heard: no grandmaster is left.
        clock->expireMasters(heardB + 6'000'000'001);
        QVERIFY(clock->grandmasterIdentity().isEmpty());
        QCOMPARE(clock->state(), PtpClock::NoGrandmaster);
        QVERIFY(clock->foreignMasters().isEmpty());
        QCOMPARE(grandmaster.count(), 3);
        QCOMPARE(grandmaster.last().at(0).toString(), QString());
        QCOMPARE(states.last().at(0).value<PtpClock::State>(), PtpClock::NoGrandmaster);
    }

    void masterTableIsBounded()
    {
        // The selected master first, then a flood of worse ones: the least recently heard go,
        // the selected one stays, and the flood is logged once.
        selectMaster(masterA);
        ptpwire::Quality worse;
        worse.priority1 = 250;
        QTest::ignoreMessage(QtWarningMsg, "[PtpClock] more than 64 foreign masters at once; the "
                                           "least recently heard are dropped");
        for (int n = 1; n <= 200; ++n) {
            QByteArray identity = QByteArray::fromHex("0200000000000000");
            qToBigEndian(quint32(n), identity.data() + 4);
            clock->processGeneralDatagram(ptpwire::announce({identity, 1}, 1, worse), n);
        }
        const QStringList kept = clock->foreignMasters();
        QCOMPARE(kept.size(), PtpClock::maxForeignMasters);
        QVERIFY(kept.contains(QStringLiteral("02-AA-AA-FF-FE-00-00-01")));
        QVERIFY(kept.contains(QStringLiteral("02-00-00-00-00-00-00-C8"))); // the last heard
        QVERIFY(!kept.contains(QStringLiteral("02-00-00-00-00-00-00-89"))); // 137, pushed out
        QVERIFY(kept.contains(QStringLiteral("02-00-00-00-00-00-00-8A"))); // 138, the oldest kept
        QCOMPARE(clock->grandmasterIdentity(), QStringLiteral("02-AA-AA-FF-FE-00-00-01"));
    }
};

SNT_TEST_MAIN(PtpTest)
#include "PtpTest.moc"
