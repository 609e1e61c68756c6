#include "NetnsPeers.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/Sender.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QSysInfo>

using namespace audio::aes67;

// mDNS against python3-zeroconf in the child namespace: a device it registers is reported and
// removed by our browser, and the sender's advertisement resolves there and is withdrawn.
class MdnsPeersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SNT_REQUIRE_NETNS(); }

    void browserReportsAndRemovesADevice()
    {
        MdnsBrowser *browser = MdnsBrowser::instance();
        QSignalSpy appeared(browser, &MdnsBrowser::deviceAppeared);
        QSignalSpy removed(browser, &MdnsBrowser::deviceRemoved);
        QVERIFY(browser->start(netns::interface()));
        netns::Peer device;
        device.start(
                "/usr/bin/python3",
                {QFINDTESTDATA("mdns_peer.py"), "register", netns::peerAddress(), "Desk 1", "3"},
                true);
        QTRY_COMPARE_WITH_TIMEOUT(appeared.count(), 1, 10000);
        const MdnsDevice found = appeared.at(0).at(0).value<MdnsDevice>();
        QCOMPARE(found.key, QStringLiteral("Desk 1"));
        QCOMPARE(found.host, netns::peerAddress());
        QCOMPARE(found.port, quint16(8554));
        QCOMPARE(found.txt.value("model"), QStringLiteral("X32-AE"));
        QVERIFY2(device.waitFor("unregistered", 10000), qPrintable(device.output()));
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 5000);
        QCOMPARE(removed.at(0).at(0).toString(), QStringLiteral("Desk 1"));
        QVERIFY(browser->devices().isEmpty());
        browser->stop();
    }

    void senderIsAdvertisedWhileItRuns()
    {
        Sender *sender = Sender::instance();
        QVERIFY(sender->start(netns::interface(), netns::address()));
        netns::Peer resolver;
        resolver.start("/usr/bin/python3",
                       {QFINDTESTDATA("mdns_peer.py"), "resolve", netns::peerAddress(), "8"}, true);
        const QString machine = QSysInfo::machineHostName().section('.', 0, 0);
        const QString line = QStringLiteral("found Pelmar @ %1._rtsp._tcp.local. %1.local. "
                                            "169.254.77.1:8554")
                                     .arg(machine);
        QVERIFY2(resolver.waitFor(QRegularExpression::escape(line), 8000),
                 qPrintable(resolver.output()));
        sender->stop();
        QVERIFY2(resolver.waitFor("removed Pelmar @ ", 5000), qPrintable(resolver.output()));
    }
};

SNT_TEST_MAIN(MdnsPeersTest)
#include "MdnsPeersTest.moc"
