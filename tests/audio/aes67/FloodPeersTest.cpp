#include "NetnsPeers.h"
#include "tests/support/TestMain.h"

#include <QFile>

// Spoofed floods from the child namespace (flood_peer.py) against the stack run by the driver in
// this one: each table the flood fills stays within its limit, and the driver's memory, read from
// /proc, stays bounded. A warm-up flood fills the tables first, so that what is measured is what
// a further, far larger flood adds; the driver reports its tables' sizes once a second, and
// they must reach their limits and never pass them.
class FloodPeersTest : public QObject
{
    Q_OBJECT

    static constexpr qint64 boundKb = 6 * 1024;

    netns::Peer driver;

    void startDriver(const QStringList &pieces)
    {
        // Freed memory goes back into use at once: the sanitizer's quarantine would otherwise
        // grow the process by whatever the flood allocates and frees.
        qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=0");
        driver.start(QCoreApplication::applicationDirPath() + "/aes67_driver",
                     QStringList{"--interface", qEnvironmentVariable("SNT_NETNS_IF")} + pieces,
                     false);
    }

    qint64 residentKb()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(driver.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        const QString text = QString::fromLatin1(status.readAll());
        return QRegularExpression("VmRSS:\\s+(\\d+) kB").match(text).captured(1).toLongLong();
    }

    // Runs one flood to its end and waits until the driver reports its last message, which
    // arrives after every other one.
    bool flood(const QStringList &args, const QString &endLine)
    {
        netns::Peer peer;
        peer.start("/usr/bin/python3", QStringList{QFINDTESTDATA("flood_peer.py")} + args, true);
        return peer.waitFor("^done$|\\ndone", 60000) && driver.waitFor(endLine, 20000);
    }

    // The largest number the driver reported for `pattern` (one capture group): a table's size.
    int mostReported(const QString &pattern)
    {
        const QRegularExpression re(pattern);
        int most = -1;
        for (auto it = re.globalMatch(driver.output()); it.hasNext();)
            most = qMax(most, it.next().captured(1).toInt());
        return most;
    }

    void checkBounded(const QStringList &warmUp, const QString &warmEnd, const QStringList &big,
                      const QString &bigEnd)
    {
        QVERIFY2(flood(warmUp, warmEnd), qPrintable(driver.output().right(2000)));
        const qint64 before = residentKb();
        QVERIFY2(flood(big, bigEnd), qPrintable(driver.output().right(2000)));
        const qint64 after = residentKb();
        QVERIFY(before > 0);
        qInfo() << "driver resident" << before << "kB before," << after << "kB after the flood";
        QVERIFY2(after - before < boundKb,
                 qPrintable(QStringLiteral("%1 kB more").arg(after - before)));
    }

    // A client that sends `bytes` of pipelined DESCRIBEs and reads no answer: true once the
    // responder has cut it off, which it does when the answers have waited 5 s to drain.
    bool pipelineWithoutReading(qint64 bytes)
    {
        netns::Peer client;
        client.start("/usr/bin/python3",
                     {QFINDTESTDATA("flood_peer.py"), "rtsp", netns::address().toString(), "8554",
                      QString::number(bytes)},
                     true);
        if (client.waitFor("closed", 30000))
            return true;
        qWarning().noquote() << client.output();
        return false;
    }

private slots:
    void initTestCase() { SNT_REQUIRE_NETNS(); }
    void cleanup() { driver.stop(); }

    void spoofedSapAnnouncements()
    {
        startDriver({"--sap-listen"});
        QVERIFY(driver.waitFor("sap streams 0", 10000));
        checkBounded({"sap", "1", "2000", "4000"}, "sap appeared \\S+ \"Flood end 1\"",
                     {"sap", "10001", "30000", "2000"}, "sap appeared \\S+ \"Flood end 10001\"");
        QTRY_COMPARE_WITH_TIMEOUT(mostReported("sap streams (\\d+)"), 1024, 3000);
        QVERIFY(driver.output().contains(
                "[SapListener] more than 1024 announced streams at once; the least recently "
                "heard are dropped"));
    }

    void spoofedMdnsAnswers()
    {
        startDriver({"--mdns-browse"});
        QVERIFY(driver.waitFor("mdns instances 0 hosts 0", 10000));
        const QString peer = netns::peerAddress();
        checkBounded({"mdns", "1", "3000", "4000", peer}, "mdns appeared \"Flood end 1\"",
                     {"mdns", "10001", "30000", "4000", peer}, "mdns appeared \"Flood end 10001\"");
        QTRY_COMPARE_WITH_TIMEOUT(mostReported("mdns instances \\d+ hosts (\\d+)"), 1024, 3000);
    }

    void spoofedPtpAnnounces()
    {
        startDriver({"--ptp"});
        QVERIFY(driver.waitFor("ptp offset", 10000));
        checkBounded({"ptp", "1", "1000", "4000"}, "ptp grandmaster 02-EE-EE-EE-EE-00-00-01",
                     {"ptp", "10001", "20000", "4000"}, "ptp grandmaster 02-EE-EE-EE-EE-00-27-11");
        QTRY_COMPARE_WITH_TIMEOUT(mostReported("masters (\\d+)"), 64, 3000);
    }

    void pipelinedRtspWithoutReading()
    {
        startDriver({"--send", "--address", netns::address().toString()});
        QVERIFY(driver.waitFor("rtsp listening", 10000));
        // A first client that does the same warms the responder up; what is measured is what a
        // second one adds.
        QVERIFY(pipelineWithoutReading(4 * 1024 * 1024));
        const qint64 before = residentKb();
        QVERIFY(pipelineWithoutReading(4 * 1024 * 1024));
        const qint64 after = residentKb();
        qInfo() << "driver resident" << before << "kB before," << after << "kB after the flood";
        QVERIFY2(after - before < boundKb,
                 qPrintable(QStringLiteral("%1 kB more").arg(after - before)));
        QCOMPARE(driver.output().count("does not read its answers, disconnecting"), 2);
    }
};

SNT_TEST_MAIN(FloodPeersTest)
#include "FloodPeersTest.moc"
