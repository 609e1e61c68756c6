#include "RtspPeer.h"
#include "audio/aes67/RtspRouteBackend.h"
#include "audio/aes67/RtspSession.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTcpServer>

using namespace audio::aes67;

namespace {

const QString id = QStringLiteral("local-sender|desk");
const QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Pelmar\r\n";

// A request as one line: the request line, then its headers in order.
QString wireLine(const QJsonObject &request)
{
    QStringList parts{request.value("start").toString()};
    for (const QJsonValue &pair : request.value("headers").toArray())
        parts << pair.toArray().at(0).toString() + ": " + pair.toArray().at(1).toString();
    return parts.join(" | ");
}

quint16 unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

// The RTSP client and route backend against a scripted device on 127.0.0.1 (rtsp_peer.py), and
// the driver program making and undoing a route with it.
class RouteTest : public QObject
{
    Q_OBJECT

    RouteRequest route(quint16 port, const QString &name = QStringLiteral("Pelmar"))
    {
        return {id, name, sdp, QStringLiteral("127.0.0.1"), port};
    }

private slots:
    void routeIsMadeAndUndone()
    {
        RtspPeer peer;
        QVERIFY(peer.start(
                "127.0.0.1",
                {{"SETUP",
                  QJsonObject({{"headers", QJsonObject{{"Session", "12345678;timeout=60"}}}})}}));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QSignalSpy disconnected(&backend, &RouteBackend::disconnectFinished);
        backend.connectSubscription(route(peer.port()));
        QVERIFY(connected.wait(5000));
        QCOMPARE(connected.at(0), QVariantList({id, true, QString()}));
        backend.disconnectSubscription(id);
        QVERIFY(disconnected.wait(5000));
        QCOMPARE(disconnected.at(0), QVariantList({id, true, QString()}));

        const QString url = QStringLiteral("rtsp://127.0.0.1:%1/by-name/Pelmar").arg(peer.port());
        QStringList wire;
        for (const QJsonObject &request : peer.requests())
            wire << wireLine(request);
        QCOMPARE(wire,
                 QStringList({
                         "ANNOUNCE " + url
                                 + " RTSP/1.0 | Content-Type: application/sdp | CSeq: 1 | "
                                   "Content-Length: 41",
                         "SETUP " + url + " RTSP/1.0 | Transport: RTP/AVP;multicast | CSeq: 2",
                         "PLAY " + url
                                 + " RTSP/1.0 | Session: 12345678 | Range: npt=0.000- | "
                                   "CSeq: 3",
                         "TEARDOWN " + url + " RTSP/1.0 | Session: 12345678 | CSeq: 4",
                 }));
        QCOMPARE(peer.requests().at(0).value("body").toString().toUtf8(), sdp);
        QCOMPARE(connected.count(), 1);
    }

    void failureEndsTheRouteOnce_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("error");
        QTest::newRow("a refusal") << QJsonObject{{"SETUP", QJsonObject({{"status", 454}})}}
                                   << false << "RTSP 请求被拒: 454 Session Not Found";
        QTest::newRow("silence") << QJsonObject{{"ANNOUNCE", QJsonObject({{"action", "silent"}})}}
                                 << false << "RTSP 请求超时（5000ms 无响应）";
        QTest::newRow("a close with a request in flight")
                << QJsonObject{{"SETUP", QJsonObject({{"action", "close"}})}} << false
                << "连接断开";
        QTest::newRow("a body beyond 1 MiB")
                << QJsonObject{{"ANNOUNCE", QJsonObject({{"headers", QJsonObject{{"Content-Length",
                                                                                  "2000000"}}}})}}
                << false << "RTSP 响应过长（Content-Length 2000000）";
        QTest::newRow("a refused connection")
                << QJsonObject() << true << "TCP 连接失败: Connection refused";
    }

    void failureEndsTheRouteOnce()
    {
        QFETCH(QJsonObject, script);
        QFETCH(bool, refused);
        QFETCH(QString, error);
        RtspPeer peer;
        QVERIFY(peer.start("127.0.0.1", script));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QSignalSpy disconnected(&backend, &RouteBackend::disconnectFinished);
        backend.connectSubscription(route(refused ? unusedPort() : peer.port()));
        QVERIFY(connected.wait(RtspSession::requestTimeoutMs + 2000));
        QCOMPARE(connected.at(0), QVariantList({id, false, error}));
        QTest::qWait(300);
        QCOMPARE(connected.count(), 1);
        QCOMPARE(disconnected.count(), 0);
        // Nothing is left to undo.
        backend.disconnectSubscription(id);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.at(0), QVariantList({id, true, QString()}));
    }

    void twoResponsesInOneSegmentUnderAWrongCseq()
    {
        // The device answers ANNOUNCE under a wrong CSeq and, in the same segment, the SETUP
        // still to come: a warning, and both answers count.
        RtspPeer peer;
        QVERIFY(peer.start(
                "127.0.0.1",
                {{"ANNOUNCE", QJsonObject({{"with", "SETUP"}, {"cseq", 7}})},
                 {"SETUP", QJsonObject({{"headers", QJsonObject{{"Session", "77"}}}})}}));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QTest::ignoreMessage(QtWarningMsg, "[RtspSession] CSeq mismatch: sent 1 got 7");
        backend.connectSubscription(route(peer.port()));
        QVERIFY(connected.wait(5000));
        QCOMPARE(connected.at(0), QVariantList({id, true, QString()}));
        QCOMPARE(peer.methods(), QStringList({"ANNOUNCE", "SETUP", "PLAY"}));
        QCOMPARE(RtspPeer::header(peer.requests().at(2), "Session"), QStringLiteral("77"));
    }

    void disconnectDuringSetup_data()
    {
        QTest::addColumn<int>("teardownStatus");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::newRow("TEARDOWN accepted") << 200 << true << "";
        QTest::newRow("TEARDOWN refused") << 454 << false << "RTSP 请求被拒: 454 Session Not Found";
    }

    // A disconnect while SETUP is under way: no PLAY follows, TEARDOWN goes out once SETUP is
    // answered, with its session, and its own answer is what the disconnect reports.
    void disconnectDuringSetup()
    {
        QFETCH(int, teardownStatus);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        RtspPeer peer;
        QVERIFY(peer.start(
                "127.0.0.1",
                {{"SETUP", QJsonObject({{"delay", 0.5},
                                        {"headers", QJsonObject{{"Session", "abc;timeout=60"}}}})},
                 {"TEARDOWN", QJsonObject({{"status", teardownStatus}})}}));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QSignalSpy disconnected(&backend, &RouteBackend::disconnectFinished);
        backend.connectSubscription(route(peer.port()));
        QVERIFY(peer.waitForRequests(2, 5000));
        backend.disconnectSubscription(id);
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(disconnected.wait(5000));
        QCOMPARE(disconnected.at(0), QVariantList({id, ok, error}));
        QTest::qWait(300);
        QCOMPARE(peer.methods(), QStringList({"ANNOUNCE", "SETUP", "TEARDOWN"}));
        QCOMPARE(RtspPeer::header(peer.requests().at(2), "Session"), QStringLiteral("abc"));
        QCOMPARE(connected.count(), 0);
        QCOMPARE(disconnected.count(), 1);
    }

    void routeIsLostWhenTheDeviceEndsTheConnection()
    {
        RtspPeer peer;
        QVERIFY(peer.start("127.0.0.1"));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        QSignalSpy disconnected(&backend, &RouteBackend::disconnectFinished);
        QSignalSpy lost(&backend, &RouteBackend::routeLost);
        backend.connectSubscription(route(peer.port()));
        QVERIFY(connected.wait(5000));
        QCOMPARE(lost.count(), 0);
        peer.stop();
        QVERIFY(lost.wait(5000));
        QCOMPARE(lost.at(0), QVariantList({id}));
        // Undoing it finds no connection to send the TEARDOWN over.
        backend.disconnectSubscription(id);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.at(0),
                 QVariantList({id, false, "RTSP 连接已断开，无法发送 TEARDOWN"}));
        QCOMPARE(connected.count(), 1);
        QCOMPARE(lost.count(), 1);
    }

    void hostileStreamNameStaysInItsSegment()
    {
        RtspPeer peer;
        QVERIFY(peer.start("127.0.0.1"));
        RtspRouteBackend backend;
        QSignalSpy connected(&backend, &RouteBackend::connectFinished);
        backend.connectSubscription(route(peer.port(), "Main mix\r\nX-Evil: 1"));
        QVERIFY(connected.wait(5000));
        const QJsonObject announce = peer.requests().at(0);
        QCOMPARE(wireLine(announce),
                 "ANNOUNCE rtsp://127.0.0.1:" + QString::number(peer.port())
                         + "/by-name/Main%20mix%0D%0AX-Evil%3A%201 RTSP/1.0 | Content-Type: "
                           "application/sdp | CSeq: 1 | Content-Length: 41");
    }

    void driverMakesAndUndoesARoute()
    {
        RtspPeer peer;
        QVERIFY(peer.start("127.0.0.1"));
        const QString device = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        netns::Peer driver;
        driver.start(QCoreApplication::applicationDirPath() + "/aes67_driver",
                     {"--interface", "lo", "--rtsp-port", "0", "--route-add", device,
                      "--route-remove", "local-sender|" + device, "--seconds", "3"},
                     false);
        QVERIFY2(driver.waitFor("rtsp listening 127\\.0\\.0\\.1:\\d+", 10000),
                 qPrintable(driver.output()));
        const QString responder
                = QRegularExpression("rtsp listening (\\S+)").match(driver.output()).captured(1);
        QProcess curl;
        curl.start("curl", {"-sS", "rtsp://" + responder + "/"});
        QVERIFY(curl.waitForFinished(10000));
        QCOMPARE(curl.exitCode(), 0);

        QVERIFY2(driver.waitForExit(15000), qPrintable(driver.output()));
        QCOMPARE(driver.exitCode(), 0);
        const QString routeId = "local-sender|" + device;
        QStringList routeLines;
        for (const QString &line : driver.output().split('\n')) {
            if (line.startsWith("route "))
                routeLines << line;
        }
        QCOMPARE(routeLines,
                 QStringList({"route " + routeId + " Connecting", "route " + routeId + " Connected",
                              "route " + routeId + " removed"}));
        QCOMPARE(peer.methods(), QStringList({"ANNOUNCE", "SETUP", "PLAY", "TEARDOWN"}));
        const QString announced = peer.requests().at(0).value("body").toString();
        QVERIFY2(announced.startsWith("v=0\r\no=- ") && announced.contains("\r\ns=Pelmar\r\n"),
                 qPrintable(announced));
    }
};

SNT_TEST_MAIN(RouteTest)
#include "RouteTest.moc"
