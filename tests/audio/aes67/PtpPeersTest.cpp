#include "NetnsPeers.h"
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/RtpPacket.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/Sender.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QUdpSocket>
#include <algorithm>
#include <limits>

using namespace audio::aes67;

namespace {

// ptp4l as a grandmaster on the child's end: software time stamps over UDP, Sync every 1/8 s
// (or faster), Announce every 2^logAnnounce s, never a slave.
QString writeMasterConfig(const QTemporaryDir &dir, int index, int priority1, int logSync,
                          int logAnnounce = 1)
{
    const QString path = dir.filePath(QStringLiteral("gm%1.cfg").arg(index));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("[global]\nmasterOnly 1\nlogSyncInterval %1\npriority1 %2\n"
                              "clockIdentity 02AAAA.FFFE.00000%3\nuds_address %4\n"
                              "logAnnounceInterval %5\n")
                       .arg(logSync)
                       .arg(priority1)
                       .arg(index)
                       .arg(dir.filePath(QStringLiteral("gm%1.sock").arg(index)))
                       .arg(logAnnounce)
                       .toUtf8());
    return path;
}

// The reference clock the SAP-announced description of the own stream names.
QString announcedRefclk(SapListener *listener)
{
    const QString sdp = QString::fromUtf8(listener->streams().value(0).sdp);
    return QRegularExpression("a=ts-refclk:(\\S+)").match(sdp).captured(1);
}

void startMaster(netns::Peer &peer, const QString &config)
{
    peer.start("ptp4l", {"-i", "v1", "-S", "-4", "-m", "-f", config}, true);
}

// What the servo last saw, for a lock that did not come.
QByteArray servoState(const PtpClock *clock)
{
    return QStringLiteral("median %1 ns, rate ratio %2, mpd %3 ns, %4 Syncs followed")
            .arg(clock->lastMedian())
            .arg(clock->rateRatio(), 0, 'f', 9)
            .arg(clock->meanPathDelay())
            .arg(clock->syncsFollowed())
            .toUtf8();
}

// Waits for the lock, naming the servo's state when it does not come.
#define SNT_TRY_LOCKED(clock, ms) \
    QTRY_VERIFY2_WITH_TIMEOUT((clock)->state() == PtpClock::Locked, servoState(clock).constData(), \
                              ms)

} // namespace

// The slave clock against ptp4l grandmasters in the child namespace, and the sender's
// re-announcement when its clock locks.
class PtpPeersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    PtpClock *clock = nullptr;

private slots:
    void initTestCase()
    {
        SNT_REQUIRE_NETNS();
        clock = PtpClock::instance();
    }

    void cleanup() { Sender::instance()->stop(); }

    void startFailsWhenThePortIsTaken()
    {
        QUdpSocket exclusive;
        QVERIFY(exclusive.bind(QHostAddress::AnyIPv4, 319, QAbstractSocket::DontShareAddress));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[PtpClock\\] cannot listen: port 319 on v0: "));
        QVERIFY(!clock->start(netns::interface()));
        QVERIFY(!clock->isStarted());
        QCOMPARE(clock->state(), PtpClock::Idle);
    }

    void locksToPtp4l()
    {
        netns::Peer capture, master;
        const QString pcap = dir.filePath("ptp.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "udp port 319 or udp port 320"));
        startMaster(master, writeMasterConfig(dir, 1, 127, -3));
        QVERIFY(clock->start(netns::interface()));
        QVERIFY2(master.waitFor("assuming the grand master role", 15000),
                 qPrintable(master.output()));
        QTRY_COMPARE_WITH_TIMEOUT(clock->grandmasterIdentity(),
                                  QStringLiteral("02-AA-AA-FF-FE-00-00-01"), 5000);
        SNT_TRY_LOCKED(clock, 10000);
        // ptp4l answers our delay requests: a path delay appears, far under a millisecond on a
        // veth pair.
        QTRY_VERIFY_WITH_TIMEOUT(clock->meanPathDelay() > 0, 5000);
        QVERIFY(clock->meanPathDelay() < 1e6);
        clock->stop();
        netns::stopCapture(capture);

        const QString ours = "0x" + QString::fromLatin1(clock->clockIdentity().toHex());
        QCOMPARE(ours, QStringLiteral("0x000000fffe4d0001")); // from v0's 02:00:00:4d:00:01
        const auto requests = netns::dissect(pcap, "ptp.v2.messagetype == 1",
                                             {"ptp.v2.clockidentity", "ip.src", "ip.ttl"});
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.first(), QStringList({ours, "169.254.77.1", "1"}));
        const auto answers = netns::dissect(pcap, "ptp.v2.messagetype == 9",
                                            {"ptp.v2.dr.requestingsourceportidentity"});
        QVERIFY(!answers.isEmpty());
        QCOMPARE(answers.first().first(), ours);
    }

    void betterMasterWinsAndTheOtherIsNotFollowed()
    {
        // The worse master starts first and syncs twice as often; once the better one is heard,
        // only its Syncs may run the servo.
        netns::Peer worse, better;
        startMaster(worse, writeMasterConfig(dir, 2, 128, -4));
        QVERIFY(clock->start(netns::interface()));
        QVERIFY(worse.waitFor("assuming the grand master role", 15000));
        QTRY_COMPARE_WITH_TIMEOUT(clock->grandmasterIdentity(),
                                  QStringLiteral("02-AA-AA-FF-FE-00-00-02"), 5000);
        startMaster(better, writeMasterConfig(dir, 3, 127, -3));
        QTRY_COMPARE_WITH_TIMEOUT(clock->grandmasterIdentity(),
                                  QStringLiteral("02-AA-AA-FF-FE-00-00-03"), 15000);
        SNT_TRY_LOCKED(clock, 10000);
        const int before = clock->syncsFollowed();
        QTest::qWait(4000);
        const int followed = clock->syncsFollowed() - before;
        QVERIFY2(followed >= 24 && followed <= 34, qPrintable(QString::number(followed)));
        QCOMPARE(clock->state(), PtpClock::Locked);
        clock->stop();
    }

    void streamStartsOnPtpTimeWhenLocked()
    {
        // ptp4l's time is the machine's real-time clock, as is tshark's capture time: a stream
        // started on a locked clock has RTP timestamps of that time at 48 kHz.
        netns::Peer capture, master;
        const QString pcap = dir.filePath("rtp.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "udp port 5004"));
        startMaster(master, writeMasterConfig(dir, 5, 127, -3));
        QVERIFY(clock->start(netns::interface()));
        SNT_TRY_LOCKED(clock, 20000);
        QVERIFY(Sender::instance()->start(netns::interface(), netns::address()));
        QTest::qWait(300);
        Sender::instance()->stop();
        netns::stopCapture(capture);
        const auto packets = netns::dissect(pcap, "rtp", {"rtp.timestamp", "frame.time_epoch"},
                                            {"-d", "udp.port==5004,rtp"});
        QVERIFY(!packets.isEmpty());
        // A busy machine sends some packets late, never early: the packet that left closest to
        // its time stamp tells where the stamps stand.
        qint32 lead = std::numeric_limits<qint32>::min();
        for (const QStringList &packet : packets) {
            const QStringList seconds = packet.at(1).split('.');
            const qint64 epochNs = seconds.at(0).toLongLong() * 1'000'000'000
                                   + seconds.at(1).leftJustified(9, '0').left(9).toLongLong();
            lead = std::max(lead, qint32(packet.at(0).toUInt() - rtpTimestampAt(epochNs)));
        }
        QVERIFY2(qAbs(lead) < 48 * 2, qPrintable(QString::number(lead))); // within 2 ms
    }

    void forgedTimesAreRefusedWhileLocked()
    {
        // ptp4l is the grandmaster; a forger in the network sends Syncs and Follow_Ups in its
        // name whose times no master can send. The clock goes on following ptp4l, locked.
        netns::Peer master, forger;
        startMaster(master, writeMasterConfig(dir, 6, 127, -3));
        QVERIFY(clock->start(netns::interface()));
        SNT_TRY_LOCKED(clock, 20000);
        forger.start("/usr/bin/python3",
                     {QFINDTESTDATA("flood_peer.py"), "ptp-forged", "02aaaafffe000006"}, true);
        QVERIFY2(forger.waitFor("done", 10000), qPrintable(forger.output()));
        const int followed = clock->syncsFollowed();
        QTest::qWait(1000);
        QCOMPARE(clock->state(), PtpClock::Locked);
        QVERIFY(clock->syncsFollowed() >= followed + 4);
        QVERIFY2(qAbs(clock->lastMedian()) < 50'000,
                 qPrintable(QString::number(clock->lastMedian())));
        clock->stop();
    }

    void silentMasterGivesWayAndTheStreamSaysSo()
    {
        // Two ptp4l grandmasters announcing every second; the clock follows the better one. When
        // it stops, the clock turns to the other within the announce receipt time-out (3 s, seen
        // by a once-a-second watch; a busy machine may add a little), and the sender's SAP
        // announcement names the new one once it
        // is locked; when that one stops too, no grandmaster is left and the announcement says
        // the stream's clock is only traceable.
        netns::Peer worse, better;
        SapListener *listener = SapListener::instance();
        QVERIFY(listener->start(netns::interface()));
        startMaster(worse, writeMasterConfig(dir, 7, 128, -3, 0));
        startMaster(better, writeMasterConfig(dir, 8, 127, -3, 0));
        QVERIFY(clock->start(netns::interface()));
        QVERIFY(Sender::instance()->start(netns::interface(), netns::address()));
        QTRY_COMPARE_WITH_TIMEOUT(announcedRefclk(listener),
                                  QStringLiteral("ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-08:0"),
                                  25000);

        QElapsedTimer silence;
        better.stop();
        silence.start();
        QTRY_COMPARE_WITH_TIMEOUT(clock->grandmasterIdentity(),
                                  QStringLiteral("02-AA-AA-FF-FE-00-00-07"), 8000);
        QVERIFY2(silence.elapsed() < 6000, qPrintable(QString::number(silence.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(announcedRefclk(listener),
                                  QStringLiteral("ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-07:0"),
                                  10000);

        worse.stop();
        silence.restart();
        QTRY_COMPARE_WITH_TIMEOUT(clock->state(), PtpClock::NoGrandmaster, 8000);
        QVERIFY2(silence.elapsed() < 6000, qPrintable(QString::number(silence.elapsed())));
        QVERIFY(clock->grandmasterIdentity().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(announcedRefclk(listener), QStringLiteral("ptp=traceable"), 2000);
        Sender::instance()->stop();
        listener->stop();
    }

    void lockingReannouncesWithoutAStaleListing()
    {
        // The sender starts before its clock is locked; the lock changes the description. Our
        // own listener must never hold two listings of the stream, and the wire must show the
        // old description deleted before the new one is announced.
        netns::Peer capture, master;
        const QString pcap = dir.filePath("sap.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "udp port 9875"));
        SapListener *listener = SapListener::instance();
        QVERIFY(listener->start(netns::interface()));
        int most = 0;
        const auto count = [&] {
            most = qMax(most, int(listener->streams().size()));
        };
        connect(listener, &SapListener::streamAppeared, this, count);
        startMaster(master, writeMasterConfig(dir, 4, 127, -3));
        Sender *sender = Sender::instance();
        QVERIFY(sender->start(netns::interface(), netns::address()));
        QTRY_COMPARE_WITH_TIMEOUT(listener->streams().size(), 1, 5000);
        QVERIFY(!listener->streams().first().sdp.contains("IEEE1588"));
        SNT_TRY_LOCKED(clock, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(listener->streams().value(0).sdp.contains(
                                         "a=ts-refclk:ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-04:0"),
                                 5000);
        QCOMPARE(listener->streams().size(), 1);
        sender->stop();
        QTRY_VERIFY_WITH_TIMEOUT(listener->streams().isEmpty(), 5000);
        QCOMPARE(most, 1);
        listener->stop();
        netns::stopCapture(capture);

        // Flags, the session version and the kind of each SAP packet, in wire order.
        QStringList wire;
        for (const QStringList &p : netns::dissect(pcap, "sap && ip.dst == 224.2.127.254",
                                                   {"sap.flags.t", "sdp.owner.version"}))
            wire.append(p.join(':'));
        wire.removeDuplicates();
        QVERIFY2(wire == QStringList({"0:1", "1:1", "0:2", "1:2"}), qPrintable(wire.join(" ")));
    }
};

SNT_TEST_MAIN(PtpPeersTest)
#include "PtpPeersTest.moc"
