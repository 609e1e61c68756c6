#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QTcpServer>
#include <QTimer>

#include <memory>

using snt::test::messages;
using snt::test::SimProcessor;

namespace {

QJsonObject loginRequest(const QString &user, const QString &password)
{
    return {{"LOGIN", QJsonObject{{"user", user}, {"account", ""}, {"pwd", password}}}};
}

QString freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QString("127.0.0.1:%1").arg(probe.serverPort());
}

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    std::unique_ptr<ProcessorClient> client_;
    std::unique_ptr<QSignalSpy> messages_;
    std::unique_ptr<QSignalSpy> resets_;

    // A new client at the simulator's address, as the user would type it.
    void newClient(const QString &typed)
    {
        client_ = std::make_unique<ProcessorClient>();
        client_->setIp(typed);
        messages_ = std::make_unique<QSignalSpy>(client_.get(), &ProcessorClient::message);
        resets_ = std::make_unique<QSignalSpy>(client_.get(), &ProcessorClient::resetRequired);
    }

    QString connected() const { return QString("已连接 Moriat DP48（%1）").arg(sim_.address()); }

private slots:
    void initTestCase() { QVERIFY(sim_.start()); }

    void init()
    {
        sim_.command("reset_device");
        sim_.command("clear_faults");
        sim_.command("clear_log");
        newClient(sim_.address());
    }

    void cleanup() { client_.reset(); }

    void connectReadsAndLogsIn()
    {
        newClient(QString("  HTTPS://%1//  ").arg(sim_.address()));
        QCOMPARE(client_->ip(), sim_.address());
        QCOMPARE(QSettings("Sonetra", "Processor").value("ip").toString(), sim_.address());
        client_->connectToDevice();

        QVERIFY(client_->isConnected());
        QCOMPARE(client_->statusLine(), QString("在线"));
        QCOMPARE(client_->deviceName(), QString("Moriat DP48"));
        QCOMPARE(messages(*messages_), QStringList{connected()});
        QCOMPARE(resets_->count(), 0);
        const QList<QJsonObject> requests = sim_.bodies();
        QCOMPARE(requests,
                 (QList<QJsonObject>{{{"DEVICEINFO", QJsonObject()}, {"PRESETNAME", QJsonObject()}},
                                     {{"login", 0}},
                                     {{"CURSOR", QJsonObject()}},
                                     loginRequest("root", "")}));
        QTRY_COMPARE_WITH_TIMEOUT(sim_.log("ws_text").size(), 2, 10000);
        QCOMPARE(sim_.log("ws_text").value(0).value("text").toString(), QString(R"({"WSI":1})"));
        QCOMPARE(sim_.log("ws_text").value(1).value("text").toString(), QString("ping"));
        QVERIFY(sim_.log("ws_open")
                        .value(0)
                        .value("headers")
                        .toObject()
                        .value("Origin")
                        .isUndefined());
        // The cache holds the device's whole parameter set.
        QJsonObject everything;
        QString error;
        QVERIFY(client_->postJson({{"CURSOR", QJsonObject()}}, everything, error, 5000,
                                  "/test.fcgi"));
        QCOMPARE(client_->paramCache(), everything);
    }

    void loginDecision_data()
    {
        QTest::addColumn<QJsonObject>("device");
        QTest::addColumn<QString>("loginReply");
        QTest::addColumn<QJsonObject>("expectedLogin");
        QTest::addColumn<bool>("warned");
        const QJsonObject none;
        QTest::newRow("no login keys")
                << QJsonObject{{"config_keys", false}} << QString() << none << false;
        QTest::newRow("admin with a password, accepted")
                << QJsonObject{{"login_user", "admin"}, {"login_flags", QJsonObject{{"admin", 1}}}}
                << QString() << loginRequest("admin", "4826") << false;
        QTest::newRow("flag as text, refused")
                << QJsonObject{{"login_user", "admin"},
                               {"login_flags", QJsonObject{{"admin", "1"}}},
                               {"password", "other"}}
                << QString() << loginRequest("admin", "4826") << true;
        QTest::newRow("no password, refusal not shown")
                << QJsonObject{{"login_user", "admin"}, {"login_flags", QJsonObject{{"admin", 0}}}}
                << R"({"data":{"message":"Invalid password"}})" << loginRequest("admin", "")
                << false;
        QTest::newRow("user's flag missing")
                << QJsonObject{{"login_user", "admin"}, {"login_flags", QJsonObject{{"root", 1}}}}
                << QString() << loginRequest("admin", "") << false;
    }

    void loginDecision()
    {
        QFETCH(QJsonObject, device);
        QFETCH(QString, loginReply);
        QFETCH(QJsonObject, expectedLogin);
        QFETCH(bool, warned);
        if (device.contains("config_keys"))
            sim_.set(device);
        else
            sim_.command("device", device);
        if (!loginReply.isEmpty())
            sim_.fault("LOGIN", "body", {{"body", loginReply}});
        client_->connectToDevice();
        QVERIFY(client_->isConnected());
        QList<QJsonObject> logins;
        for (const QJsonObject &body : sim_.bodies()) {
            if (body.contains("LOGIN"))
                logins.append(body);
        }
        QCOMPARE(logins, expectedLogin.isEmpty() ? QList<QJsonObject>() : QList{expectedLogin});
        QStringList expected{connected()};
        if (warned)
            expected.prepend("处理器要登录密码，先在设备网页里关掉登录，或告诉我密码。|warning");
        QCOMPARE(messages(*messages_), expected);
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("probeReply");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty address") << "" << QString() << "先填处理器 IP。|warning";
        QTest::newRow("refused") << freePort() << QString()
                                 << "连不上处理器：设备拒绝了连接，检查 IP 和网线|warning";
        QTest::newRow("empty result") << "sim"
                                      << R"({"data":{}})"
                                      << "连不上处理器：设备没回应|warning";
        QTest::newRow("not JSON") << "sim"
                                  << "<html>"
                                  << "连不上处理器：设备回的不是 JSON|warning";
    }

    void connectFailures()
    {
        QFETCH(QString, address);
        QFETCH(QString, probeReply);
        QFETCH(QString, expected);
        newClient(address == "sim" ? sim_.address() : address);
        if (!probeReply.isEmpty())
            sim_.fault("DEVICEINFO", "body", {{"body", probeReply}});
        client_->connectToDevice();
        QVERIFY(!client_->isConnected());
        QVERIFY(!client_->isBusy());
        QCOMPARE(messages(*messages_), QStringList{expected});
        QCOMPARE(client_->statusLine(), address.isEmpty() ? QString("未连接") : QString("连不上"));
    }

    void blankNameReadsAsTheOfficialProcessor()
    {
        sim_.command("device", {{"name", "   "}});
        client_->connectToDevice();
        QCOMPARE(client_->deviceName(), QString("官方处理器"));
    }

    void secondConnectDoesNothing()
    {
        sim_.fault("DEVICEINFO", "delay", {{"ms", 600}, {"times", 1}});
        QTimer::singleShot(100, client_.get(), [this] {
            QVERIFY(client_->isBusy());
            QCOMPARE(client_->statusLine(), QString("连接中…"));
            client_->connectToDevice(); // busy
        });
        client_->connectToDevice();
        client_->connectToDevice(); // connected
        QCOMPARE(messages(*messages_), QStringList{connected()});
        QCOMPARE(sim_.bodies().count(
                         QJsonObject{{"DEVICEINFO", QJsonObject()}, {"PRESETNAME", QJsonObject()}}),
                 1);
    }

    void fullReadFailureKeepsTheLink()
    {
        sim_.fault("CURSOR", "status", {{"status", 204}});
        client_->connectToDevice();
        QVERIFY(client_->isConnected());
        QCOMPARE(messages(*messages_),
                 (QStringList{"读设备参数失败：HTTP 204|warning", connected()}));
        QVERIFY(client_->paramCache().isEmpty());
    }

    void oldLayerNeedsAReset_data()
    {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<bool>("required");
        QTest::newRow("neutral") << QJsonObject() << false;
        QTest::newRow("gain 0.04 dB") << QJsonObject{{"GAINgain23", 0.04}} << false;
        QTest::newRow("gain 0.06 dB") << QJsonObject{{"GAINgain23", 0.06}} << true;
        QTest::newRow("gain -0.06 dB as text") << QJsonObject{{"GAINgain20", "-0.06"}} << true;
        QTest::newRow("delay 0.004 ms") << QJsonObject{{"DELAYtime27", 0.004}} << false;
        QTest::newRow("delay 0.006 ms") << QJsonObject{{"DELAYtime27", 0.006}} << true;
        QTest::newRow("polarity inverted") << QJsonObject{{"GAINphase24", 0}} << true;
        QTest::newRow("band active") << QJsonObject{{"PEQbps139", 0}} << true;
        QTest::newRow("band flag not a number") << QJsonObject{{"PEQbps60", "x"}} << false;
    }

    void oldLayerNeedsAReset()
    {
        QFETCH(QJsonObject, params);
        QFETCH(bool, required);
        sim_.seed(params);
        client_->connectToDevice();
        QCOMPARE(resets_->count(), required ? 1 : 0);
        QCOMPARE(messages(*messages_).last(), connected());
    }

    void resetNeutralisesTheOldLayer()
    {
        sim_.seed({{"GAINgain22", 3.0}, {"PEQbps75", 0}});
        client_->connectToDevice();
        QCOMPARE(resets_->count(), 1);
        QSignalSpy finished(client_.get(), &ProcessorClient::resetFinished);
        sim_.command("clear_log");
        client_->forceResetLegacyParams();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(messages(*messages_).last(), QString("设备已重置，可以开始用了。"));
        const QJsonObject sent = sim_.bodies().value(0);
        QCOMPARE(sent.size(), 104);
        for (int k = 20; k < 28; ++k) {
            QCOMPARE(sent.value(QString("GAINgain%1").arg(k)).toDouble(-1), 0.0);
            QCOMPARE(sent.value(QString("DELAYtime%1").arg(k)).toDouble(-1), 0.0);
            QCOMPARE(sent.value(QString("GAINphase%1").arg(k)).toInt(), 1);
        }
        for (int b = 60; b < 140; ++b)
            QCOMPARE(sent.value(QString("PEQbps%1").arg(b)).toInt(), 1);
        QCOMPARE(client_->paramCache().value("GAINgain22").toDouble(), 0.0);

        // The device now reads neutral: a reconnect asks for no reset.
        client_->disconnectDevice();
        client_->connectToDevice();
        QCOMPARE(resets_->count(), 1);
    }

    void failedResetKeepsTheDialog()
    {
        sim_.seed({{"GAINphase21", 0}});
        client_->connectToDevice();
        sim_.fault("write", "status", {{"status", 204}});
        QSignalSpy finished(client_.get(), &ProcessorClient::resetFinished);
        client_->forceResetLegacyParams();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(messages(*messages_).last(), QString("重置没成功：HTTP 204|warning"));
        QCOMPARE(client_->paramCache().value("GAINphase21").toInt(), 0);
        QVERIFY(client_->isConnected());
    }

    void declineDisconnects()
    {
        QVERIFY(snt::test::connectTo(*client_, sim_));
        QSignalSpy state(client_.get(), &ProcessorClient::stateChanged);
        QSignalSpy levels(client_.get(), &ProcessorClient::levelsChanged);
        const QJsonObject cache = client_->paramCache();
        client_->declineLegacyReset();
        QVERIFY(!client_->isConnected());
        QCOMPARE(client_->statusLine(), QString("未连接"));
        QCOMPARE(state.count(), 1);
        QCOMPARE(levels.count(), 1);
        QCOMPARE(client_->paramCache(), cache);
        QTRY_COMPARE_WITH_TIMEOUT(sim_.log("ws_closed").size(), 1, 10000);
        QCOMPARE(sim_.log("ws_closed").value(0).value("code").toInt(), 1000);
    }

    // The read after connecting waits in an event loop; a disconnect during it wins, and the
    // connect still ends with its message. The disconnect comes once the read's request reached
    // the processor: at a fixed time it could come before the probe was answered on a busy machine.
    void disconnectDuringTheRead()
    {
        sim_.seed({{"GAINgain21", 2.0}});
        sim_.fault("CURSOR", "delay", {{"ms", 1500}});
        QTimer whileReading;
        connect(&whileReading, &QTimer::timeout, client_.get(), [this, &whileReading] {
            const QList<QJsonObject> asked = sim_.bodies();
            if (asked.isEmpty() || !asked.last().contains("CURSOR"))
                return;
            whileReading.stop();
            client_->disconnectDevice();
        });
        whileReading.start(20);
        client_->connectToDevice();
        QVERIFY(!whileReading.isActive());
        QVERIFY(!client_->isConnected());
        QCOMPARE(resets_->count(), 0);
        QCOMPARE(messages(*messages_).last(), connected());
    }

    // Level and parameter pushes are handled while a request waits for its answer.
    void pushDuringAWaitingRequest()
    {
        QVERIFY(snt::test::connectTo(*client_, sim_));
        QSignalSpy levels(client_.get(), &ProcessorClient::levelsChanged);
        sim_.fault("STARTUP", "delay", {{"ms", 1500}});
        sim_.command("push",
                     {{"after_ms", 300},
                      {"message",
                       QJsonObject{{"data", QJsonObject{{"VUvu30", -6}, {"GAINgain28", -4}}}}}});
        const QVariantMap result = client_->setStartupPreset(0);
        QVERIFY(result.value("ok").toBool());
        QCOMPARE(levels.count(), 1);
        QCOMPARE(client_->levelsOut().value(2).toDouble(), 0.9);
        QCOMPARE(client_->paramCache().value("GAINgain28").toInt(), -4);
    }
};

SNT_TEST_MAIN(ConnectionTest)
#include "ConnectionTest.moc"
