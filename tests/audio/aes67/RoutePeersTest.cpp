#include "NetnsPeers.h"
#include "RtspPeer.h"
#include "WriteCounter.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/RouteController.h"
#include "audio/aes67/RtspRouteBackend.h"
#include "audio/aes67/Sender.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QSignalSpy>

using namespace audio::aes67;

namespace {

const QStringList rtspDissection = {"-E", "occurrence=a", "-d", "tcp.port==8554,rtsp"};

// Runs a peer program in the child namespace to its end and gives back its exit code.
int runInChild(netns::Peer &peer, const QString &program, const QStringList &args)
{
    peer.start(program, args, true);
    return peer.waitForExit(20000) ? peer.exitCode() : -1;
}

RouteSubscription ownStreamToDesk()
{
    RouteSubscription sub;
    sub.streamKey = QLatin1String(ownSenderStreamKey);
    sub.deviceKey = QStringLiteral("Desk 1");
    sub.streamName = QStringLiteral("Pelmar");
    sub.sdpText = "v=0\r\ns=made before the restart\r\n";
    sub.deviceName = QStringLiteral("Desk 1");
    sub.deviceHost = netns::peerAddress();
    sub.deviceRtspPort = 8554;
    return sub;
}

RouteSubscription::State lastState(const QSignalSpy &changed)
{
    return changed.isEmpty() ? RouteSubscription::Idle
                             : RouteSubscription::State(
                                     changed.last().at(0).value<RouteSubscription>().state);
}

} // namespace

// RTSP between the namespace's two ends, read by tshark: devices in the child fetch the running
// sender's SDP (curl, ffprobe), the backend makes a route on the scripted device, and a saved
// route comes back by itself once python3-zeroconf advertises the device and the sender runs.
class RoutePeersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        SNT_REQUIRE_NETNS();
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    }

    void responderServesTheAnnouncedSdpWhileTheSenderRuns()
    {
        netns::Peer capture, curl, ffprobe, late;
        const QString pcap = dir.filePath("responder.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "tcp port 8554 or udp port 9875"));
        const QString url = "rtsp://" + netns::address().toString() + ":8554/by-name/Pelmar";
        Sender *sender = Sender::instance();
        QVERIFY(sender->start(netns::interface(), netns::address()));
        QCOMPARE(runInChild(curl, "curl", {"-sS", url}), 0);
        QVERIFY(runInChild(ffprobe, "ffprobe", {"-v", "verbose", "-hide_banner", url}) != 0);
        QVERIFY2(ffprobe.output().contains("a=rtpmap:96 L24/48000/2"),
                 qPrintable(ffprobe.output()));
        sender->stop();
        QCOMPARE(runInChild(late, "curl", {"-sS", url}), 7); // nobody listens any more
        netns::stopCapture(capture);

        QStringList exchange;
        for (const QStringList &row :
             netns::dissect(pcap, "rtsp", {"rtsp.method", "rtsp.status"}, rtspDissection))
            exchange << row.join(QString());
        QCOMPARE(exchange, QStringList({"OPTIONS", "200", "OPTIONS", "200", "DESCRIBE", "200",
                                        "SETUP", "405"}));
        // The description served is the one announced: same session, same version, same source.
        const QStringList owner = {"sdp.owner.sessionid", "sdp.owner.version", "sdp.owner.address",
                                   "sdp.session_name"};
        const auto described
                = netns::dissect(pcap, "rtsp.status == 200 && sdp", owner, rtspDissection);
        const auto announced = netns::dissect(pcap, "sap.flags.t == 0", owner);
        QCOMPARE(described.size(), 1);
        QVERIFY(!announced.isEmpty());
        QCOMPARE(described.first(), announced.last());
        QCOMPARE(described.first().mid(2), QStringList({"169.254.77.1", "Pelmar"}));
    }

    void backendRequestsAsTsharkReadsThem()
    {
        RtspPeer device;
        QVERIFY(device.start(
                netns::peerAddress(),
                {{"SETUP", QJsonObject({{"headers", QJsonObject{{"Session", "9F3;timeout=60"}}}})}},
                8554, true));
        netns::Peer capture;
        const QString pcap = dir.filePath("backend.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "tcp port 8554"));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QSignalSpy disconnected(&backend, &RouteBackend::disconnectFinished);
        const QByteArray sdp = "v=0\r\ns=Stage\r\n";
        backend.connectSubscription({"s|d", "Stage", sdp, netns::peerAddress(), 8554});
        QVERIFY(connected.wait(5000));
        backend.disconnectSubscription("s|d");
        QVERIFY(disconnected.wait(5000));
        netns::stopCapture(capture);

        const QString url = "rtsp://" + netns::peerAddress() + ":8554/by-name/Stage";
        const auto requests = netns::dissect(pcap, "rtsp.request",
                                             {"rtsp.method", "rtsp.url", "rtsp.session",
                                              "rtsp.transport", "rtsp.content-length", "text"},
                                             rtspDissection);
        const QString timestamps = QStringLiteral("Timestamps,");
        QCOMPARE(requests,
                 QList<QStringList>({
                         {"ANNOUNCE", url, "", "", "14", timestamps + "CSeq: 1\\r\\n,\\r\\n"},
                         {"SETUP", url, "", "RTP/AVP;multicast", "",
                          timestamps + "CSeq: 2\\r\\n,\\r\\n"},
                         {"PLAY", url, "9F3", "", "",
                          timestamps + "Range: npt=0.000-\\r\\n,CSeq: 3\\r\\n,\\r\\n"},
                         {"TEARDOWN", url, "9F3", "", "", timestamps + "CSeq: 4\\r\\n,\\r\\n"},
                 }));
        const auto bodies
                = netns::dissect(pcap, "rtsp.method == \"ANNOUNCE\"",
                                 {"rtsp.content-type", "sdp.session_name"}, rtspDissection);
        QCOMPARE(bodies, QList<QStringList>({{"application/sdp", "Stage"}}));
    }

    void savedRouteComesBackAfterARestart()
    {
        RtspPeer device;
        QVERIFY(device.start(
                netns::peerAddress(),
                {{"SETUP", QJsonObject({{"headers", QJsonObject{{"Session", "e2e;timeout=60"}}}})}},
                8554, true));
        // 1. A route to the device, made and saved by the program's first run.
        {
            RouteController first;
            QSignalSpy changed(&first, &RouteController::subscriptionChanged);
            first.upsertSubscription(ownStreamToDesk());
            QTRY_COMPARE_WITH_TIMEOUT(lastState(changed), RouteSubscription::Connected, 5000);
        }
        QCOMPARE(device.methods(), QStringList({"ANNOUNCE", "SETUP", "PLAY"}));

        // 2. After the restart the device is advertised by mDNS and the sender runs.
        netns::Peer zeroconf, capture;
        const QString pcap = dir.filePath("restore.pcap");
        QVERIFY(netns::startCapture(capture, pcap, "udp port 9875"));
        MdnsBrowser *browser = MdnsBrowser::instance();
        QVERIFY(browser->start(netns::interface()));
        zeroconf.start(
                "/usr/bin/python3",
                {QFINDTESTDATA("mdns_peer.py"), "register", netns::peerAddress(), "Desk 1", "30"},
                true);
        QTRY_COMPARE_WITH_TIMEOUT(browser->devices().size(), 1, 10000);
        QVERIFY(Sender::instance()->start(netns::interface(), netns::address()));

        // 3. A fresh controller, asked for nothing, connects the route again.
        WriteCounter writes(QSettings().fileName());
        RouteController second;
        QSignalSpy changed(&second, &RouteController::subscriptionChanged);
        QTRY_COMPARE_WITH_TIMEOUT(lastState(changed), RouteSubscription::Connected, 5000);
        QCOMPARE(device.methods(),
                 QStringList({"ANNOUNCE", "SETUP", "PLAY", "ANNOUNCE", "SETUP", "PLAY"}));
        QCOMPARE(RtspPeer::header(device.requests().at(5), "Session"), QStringLiteral("e2e"));

        // 4. Connected, saved once, and the device was given the running sender's description.
        QCOMPARE(second.subscriptions().value("local-sender|Desk 1").state,
                 RouteSubscription::Connected);
        QCOMPARE(writes.count(), 1);
        Sender::instance()->stop();
        browser->stop();
        netns::stopCapture(capture);
        const QString sdp = device.requests().at(3).value("body").toString();
        const auto announced = netns::dissect(pcap, "sap.flags.t == 0",
                                              {"sdp.owner.sessionid", "sdp.owner.version"});
        QVERIFY(!announced.isEmpty());
        QVERIFY2(sdp.startsWith(
                         QStringLiteral("v=0\r\no=- %1 %2 IN IP4 169.254.77.1\r\ns=Pelmar\r\n")
                                 .arg(announced.first().at(0), announced.first().at(1))),
                 qPrintable(sdp));
    }

    void routeComesBackAfterItsDeviceSaysGoodbye()
    {
        // The device leaves (python3-zeroconf's goodbye) and comes back: the route stops being
        // connected when it leaves and is made again, by itself, when it is back.
        RtspPeer device;
        QVERIFY(device.start(
                netns::peerAddress(),
                {{"SETUP", QJsonObject({{"headers", QJsonObject{{"Session", "b1;timeout=60"}}}})}},
                8554, true));
        MdnsBrowser *browser = MdnsBrowser::instance();
        QVERIFY(browser->start(netns::interface()));
        netns::Peer first, second;
        first.start(
                "/usr/bin/python3",
                {QFINDTESTDATA("mdns_peer.py"), "register", netns::peerAddress(), "Desk 1", "4"},
                true);
        QTRY_COMPARE_WITH_TIMEOUT(browser->devices().size(), 1, 10000);
        QVERIFY(Sender::instance()->start(netns::interface(), netns::address()));
        RouteController controller;
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        controller.upsertSubscription(ownStreamToDesk());
        QTRY_COMPARE_WITH_TIMEOUT(lastState(changed), RouteSubscription::Connected, 5000);

        QVERIFY2(first.waitFor("unregistered", 10000), qPrintable(first.output()));
        QTRY_COMPARE_WITH_TIMEOUT(lastState(changed), RouteSubscription::Idle, 5000);
        QVERIFY(changed.last().at(0).value<RouteSubscription>().lastError.isEmpty());
        QCOMPARE(device.methods(), QStringList({"ANNOUNCE", "SETUP", "PLAY"}));

        second.start(
                "/usr/bin/python3",
                {QFINDTESTDATA("mdns_peer.py"), "register", netns::peerAddress(), "Desk 1", "30"},
                true);
        QTRY_COMPARE_WITH_TIMEOUT(lastState(changed), RouteSubscription::Connected, 10000);
        QCOMPARE(device.methods(),
                 QStringList({"ANNOUNCE", "SETUP", "PLAY", "ANNOUNCE", "SETUP", "PLAY"}));
        Sender::instance()->stop();
        browser->stop();
    }
};

SNT_TEST_MAIN(RoutePeersTest)
#include "RoutePeersTest.moc"
