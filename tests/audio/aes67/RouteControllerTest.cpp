#include "audio/aes67/RouteController.h"
#include "WriteCounter.h"
#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/RouteBackend.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/SapPacket.h"
#include "audio/aes67/SavedRoutes.h"
#include "audio/aes67/Sender.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>

using namespace audio::aes67;

namespace {

// Records what the controller asks; the test answers through the backend's signals.
class FakeBackend : public RouteBackend
{
public:
    QList<RouteRequest> connects;
    QStringList disconnects;

    void connectSubscription(const RouteRequest &request) override { connects.append(request); }
    void disconnectSubscription(const QString &id) override { disconnects.append(id); }
    void abortAll(const QString &) override { }
};

const QString deskHost = QStringLiteral("169.254.77.2");
const QByteArray deskSdp = "v=0\r\no=- 5 1 IN IP4 169.254.77.2\r\ns=Desk\r\n";

// An mDNS answer for the RTSP device "Desk" at `host`:`port`; a time to live of 0 says goodbye.
dns::Message deskRecords(const QString &host, quint16 port, quint32 ttl)
{
    const dns::Name service = dns::nameFromText("_rtsp._tcp.local");
    const dns::Name instance = dns::Name{"Desk"} + service;
    const dns::Name target = dns::nameFromText("desk.local");
    dns::Record ptr, srv, a;
    ptr.name = service, ptr.type = dns::PTR, ptr.ttl = ttl, ptr.target = instance;
    srv.name = instance, srv.type = dns::SRV, srv.ttl = ttl, srv.target = target, srv.port = port;
    a.name = target, a.type = dns::A, a.ttl = ttl, a.address = QHostAddress(host);
    dns::Message message;
    message.response = true;
    message.records = {ptr, srv, a};
    return message;
}

void announceDeskStream(bool deletion)
{
    SapListener::instance()->handlePacket(
            parseSapPacket(buildSapPacket(deletion, 9, QHostAddress(deskHost), deskSdp)), 1000);
}

RouteSubscription route(const QString &streamKey, const QString &streamName)
{
    RouteSubscription sub;
    sub.streamKey = streamKey;
    sub.deviceKey = QStringLiteral("desk");
    sub.streamName = streamName;
    sub.sdpText = "v=0\r\ns=saved\r\n";
    sub.deviceName = QStringLiteral("Desk");
    sub.deviceHost = deskHost;
    sub.deviceRtspPort = 8554;
    return sub;
}

} // namespace

// The route controller over a fake backend, with devices and streams handed to the real mDNS
// browser and SAP listener, and its saves counted on the settings file in the sandboxed HOME.
class RouteControllerTest : public QObject
{
    Q_OBJECT

    QString settingsPath;

    void save(const QList<RouteSubscription> &subs)
    {
        RouteTable table;
        for (RouteSubscription sub : subs) {
            sub.id = RouteSubscription::makeId(sub.streamKey, sub.deviceKey);
            table.insert(sub.id, sub);
        }
        QSettings settings;
        saveSubscriptions(settings, table);
    }

    QString settingsText()
    {
        QFile file(settingsPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        settingsPath = QSettings().fileName();
        QCOMPARE(settingsPath, QDir::homePath() + "/.config/Halvo/测量工作流.conf");
    }

    void init()
    {
        QFile::remove(settingsPath);
        MdnsBrowser::instance()->handleMessage(deskRecords(deskHost, 8554, 0), 0);
        announceDeskStream(true);
        Sender::instance()->setRunning(false);
    }

    void savedRoutesAreRestoredWhenTheirPeersAppear()
    {
        // Two that will be restored, one whose stream never shows, one on another port.
        RouteSubscription elsewhere = route(ownSenderStreamKey, "Pelmar");
        elsewhere.deviceKey = "desk 2";
        elsewhere.deviceRtspPort = 9000;
        save({route(ownSenderStreamKey, "Pelmar"), route("old@169.254.77.9", "Desk"),
              route("x@y", "Stage"), elsewhere});
        FakeBackend backend;
        RouteController controller(&backend);
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        const RouteTable loaded = controller.subscriptions();
        QCOMPARE(loaded.keys(), QStringList({"local-sender|desk", "local-sender|desk 2",
                                             "old@169.254.77.9|desk", "x@y|desk"}));
        for (const RouteSubscription &sub : loaded)
            QVERIFY(sub.state == RouteSubscription::Idle && sub.pendingRestore);

        QTest::qWait(10); // the look right after construction finds nothing
        MdnsBrowser::instance()->handleMessage(deskRecords(deskHost, 8554, 120), 0);
        QVERIFY(backend.connects.isEmpty()); // the device alone is not enough

        Sender::instance()->setRunning(true);
        QCOMPARE(backend.connects.size(), 1);
        const RouteRequest own = backend.connects.at(0);
        QCOMPARE(own.id, QStringLiteral("local-sender|desk"));
        QCOMPARE(own.host, deskHost);
        QCOMPARE(own.port, 8554);
        // The sender of this run, not the one the route was saved with.
        QVERIFY2(own.sdp.startsWith("v=0\r\no=- ") && own.sdp.contains("\r\ns=Pelmar\r\n"),
                 own.sdp.constData());

        announceDeskStream(false);
        QCOMPARE(backend.connects.size(), 2);
        QCOMPARE(backend.connects.at(1).id, QStringLiteral("old@169.254.77.9|desk"));
        QCOMPARE(backend.connects.at(1).sdp, deskSdp);
        const RouteSubscription sap = controller.subscriptions().value("old@169.254.77.9|desk");
        QCOMPARE(sap.streamKey, QStringLiteral("9@169.254.77.2"));
        QCOMPARE(sap.streamOrigin, deskHost);
        QCOMPARE(sap.state, RouteSubscription::Connecting);
        QVERIFY(!sap.pendingRestore);

        // Each is restored once per reading of the settings, the others never.
        Sender::instance()->setRunning(false);
        Sender::instance()->setRunning(true);
        MdnsBrowser::instance()->handleMessage(deskRecords(deskHost, 8554, 0), 0);
        MdnsBrowser::instance()->handleMessage(deskRecords(deskHost, 8554, 120), 0);
        QCOMPARE(backend.connects.size(), 2);
        QCOMPARE(changed.count(), 2);
    }

    void retriesOnceThenFails()
    {
        WriteCounter writes(settingsPath);
        FakeBackend backend;
        RouteController controller(&backend);
        controller.setRetryDelayMs(20);
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        controller.upsertSubscription(route("k", "Desk"));
        const QString id = QStringLiteral("k|desk");
        QCOMPARE(backend.connects.size(), 1);
        QTest::ignoreMessage(QtWarningMsg,
                             "[RouteController] connect failed, retrying once: k|desk refused");
        emit backend.connectFinished(id, false, "refused");
        QCOMPARE(changed.count(), 1);
        QTRY_COMPARE(backend.connects.size(), 2);
        QCOMPARE(writes.count(), 0);
        emit backend.connectFinished(id, false, "refused again");
        QCOMPARE(changed.count(), 2);
        const RouteSubscription failed = changed.at(1).at(0).value<RouteSubscription>();
        QCOMPARE(failed.state, RouteSubscription::Failed);
        QCOMPARE(failed.lastError, QStringLiteral("refused again"));
        QCOMPARE(writes.count(), 1);
        QTest::qWait(60);
        QCOMPARE(backend.connects.size(), 2);
    }

    void connectedRouteIsSavedOnce()
    {
        WriteCounter writes(settingsPath);
        FakeBackend backend;
        RouteController controller(&backend);
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        controller.upsertSubscription(route(ownSenderStreamKey, "Pelmar"));
        QCOMPARE(writes.count(), 0);
        emit backend.connectFinished("local-sender|desk", true, QString());
        QCOMPARE(changed.at(1).at(0).value<RouteSubscription>().state,
                 RouteSubscription::Connected);
        QCOMPARE(writes.count(), 1);
        QCOMPARE(settingsText(),
                 QStringLiteral("[AES67Routes]\n"
                                "Subscriptions\\1\\deviceHost=169.254.77.2\n"
                                "Subscriptions\\1\\deviceKey=desk\n"
                                "Subscriptions\\1\\deviceName=Desk\n"
                                "Subscriptions\\1\\deviceRtspPort=8554\n"
                                "Subscriptions\\1\\sdpText=\"v=0\\r\\ns=saved\\r\\n\"\n"
                                "Subscriptions\\1\\streamKey=local-sender\n"
                                "Subscriptions\\1\\streamName=Pelmar\n"
                                "Subscriptions\\1\\streamOrigin=\n"
                                "Subscriptions\\size=1\n"));
    }

    void unknownIdsChangeNothing_data()
    {
        QTest::addColumn<bool>("disconnect");
        QTest::addColumn<bool>("ok");
        QTest::newRow("connected") << false << true;
        QTest::newRow("connect failed") << false << false;
        QTest::newRow("disconnected") << true << true;
        QTest::newRow("disconnect failed") << true << false;
    }

    void unknownIdsChangeNothing()
    {
        QFETCH(bool, disconnect);
        QFETCH(bool, ok);
        WriteCounter writes(settingsPath);
        FakeBackend backend;
        RouteController controller(&backend);
        controller.upsertSubscription(route("k", "Desk"));
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        QSignalSpy removed(&controller, &RouteController::subscriptionRemoved);
        if (disconnect)
            emit backend.disconnectFinished("nope", ok, "error");
        else
            emit backend.connectFinished("nope", ok, "error");
        QVERIFY(!controller.removeSubscription("nope"));
        QTest::qWait(20);
        QCOMPARE(changed.count() + removed.count() + writes.count(), 0);
        QCOMPARE(backend.connects.size(), 1);
        QVERIFY(backend.disconnects.isEmpty());
    }

    void replacementGetsAFreshRetry()
    {
        WriteCounter writes(settingsPath);
        FakeBackend backend;
        RouteController controller(&backend);
        controller.setRetryDelayMs(60000);
        RouteSubscription sub = route("k", "Desk");
        controller.upsertSubscription(sub);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("retrying once: k\\|desk one"));
        emit backend.connectFinished("k|desk", false, "one");
        sub.sdpText = "v=0\r\ns=new\r\n";
        controller.upsertSubscription(sub);
        QCOMPARE(controller.subscriptions().size(), 1);
        QCOMPARE(controller.subscriptions().first().sdpText, sub.sdpText);
        QCOMPARE(backend.connects.size(), 2);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("retrying once: k\\|desk two"));
        emit backend.connectFinished("k|desk", false, "two");
        QCOMPARE(controller.subscriptions().first().state, RouteSubscription::Connecting);
        emit backend.connectFinished("k|desk", false, "three");
        QCOMPARE(controller.subscriptions().first().state, RouteSubscription::Failed);
        QCOMPARE(writes.count(), 1);
    }

    // A connected route whose device says goodbye, whose records run out, or whose RTSP
    // connection ends goes back to waiting, without an error, and is made again when the device
    // appears again; a route still being made is left to its own result.
    void lostRouteComesBackWithItsDevice_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::newRow("mDNS goodbye") << "goodbye";
        QTest::newRow("time to live run out") << "expiry";
        QTest::newRow("RTSP connection ended") << "connection";
    }

    void lostRouteComesBackWithItsDevice()
    {
        QFETCH(QString, loss);
        MdnsBrowser *browser = MdnsBrowser::instance();
        browser->handleMessage(deskRecords(deskHost, 8554, 120), 0);
        Sender::instance()->setRunning(true);
        FakeBackend backend;
        RouteController controller(&backend);
        controller.upsertSubscription(route(ownSenderStreamKey, "Pelmar"));
        RouteSubscription other = route(ownSenderStreamKey, "Pelmar");
        other.deviceKey = "desk-2";
        controller.upsertSubscription(other); // still being made when the device goes
        emit backend.connectFinished("local-sender|desk", true, QString());
        QSignalSpy changed(&controller, &RouteController::subscriptionChanged);
        WriteCounter writes(settingsPath);

        if (loss == "goodbye")
            browser->handleMessage(deskRecords(deskHost, 8554, 0), 1000);
        else if (loss == "expiry")
            browser->expire(120'000);
        else
            emit backend.routeLost("local-sender|desk");
        QCOMPARE(changed.count(), 1);
        const RouteSubscription lost = changed.at(0).at(0).value<RouteSubscription>();
        QCOMPARE(lost.id, QStringLiteral("local-sender|desk"));
        QCOMPARE(lost.state, RouteSubscription::Idle);
        QVERIFY(lost.pendingRestore);
        QVERIFY(lost.lastError.isEmpty());
        QCOMPARE(controller.subscriptions().value("local-sender|desk-2").state,
                 RouteSubscription::Connecting);
        QCOMPARE(writes.count(), 0);

        // The device appears again (after its goodbye, when the connection was what ended).
        if (loss == "connection")
            browser->handleMessage(deskRecords(deskHost, 8554, 0), 1000);
        QCOMPARE(backend.connects.size(), 2);
        browser->handleMessage(deskRecords(deskHost, 8554, 120), 200'000);
        QCOMPARE(backend.connects.size(), 3);
        QCOMPARE(backend.connects.last().id, QStringLiteral("local-sender|desk"));
        QCOMPARE(controller.subscriptions().value("local-sender|desk").state,
                 RouteSubscription::Connecting);
        emit backend.connectFinished("local-sender|desk", true, QString());
        QCOMPARE(controller.subscriptions().value("local-sender|desk").state,
                 RouteSubscription::Connected);
    }

    void removalFollowsTheBackend_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("kept");
        QTest::newRow("TEARDOWN accepted") << true << 0;
        QTest::newRow("TEARDOWN refused") << false << 1;
    }

    void removalFollowsTheBackend()
    {
        QFETCH(bool, ok);
        QFETCH(int, kept);
        FakeBackend backend;
        RouteController controller(&backend);
        controller.upsertSubscription(route("k", "Desk"));
        emit backend.connectFinished("k|desk", true, QString());
        WriteCounter writes(settingsPath);
        QVERIFY(controller.removeSubscription("k|desk"));
        emit backend.disconnectFinished("k|desk", ok, ok ? QString() : "RTSP 请求被拒: 454");
        QCOMPARE(writes.count(), 1);
        QCOMPARE(controller.subscriptions().size(), kept);
        QSettings settings;
        QCOMPARE(loadSubscriptions(settings).size(), kept);
        if (!ok) {
            const RouteSubscription failed = controller.subscriptions().first();
            QCOMPARE(failed.state, RouteSubscription::Failed);
            QCOMPARE(failed.lastError, QStringLiteral("RTSP 请求被拒: 454"));
        }
    }
};

SNT_TEST_MAIN(RouteControllerTest)
#include "RouteControllerTest.moc"
