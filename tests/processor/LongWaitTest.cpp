#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

using snt::test::SimProcessor;

// Qt's ordinary timers may fire up to 5 % early.
constexpr double kCoarse = 0.95;

// The client's long time-outs, each run once as a CTest entry of its own so they overlap.
class LongWaitTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    ProcessorClient client_;
    QElapsedTimer clock_;

private slots:
    void initTestCase()
    {
        QVERIFY(sim_.start());
        QVERIFY(snt::test::connectTo(client_, sim_));
    }

    void presetCommandGivesUpAfter6s()
    {
        sim_.fault("SAVENAME", "never");
        const QJsonObject cache = client_.paramCache();
        clock_.start();
        const QVariantMap result = client_.savePreset(5, "x");
        QVERIFY(clock_.elapsed() >= kCoarse * 6000);
        QCOMPARE(result,
                 (QVariantMap{{"ok", false}, {"message", "没成功：设备没回应，检查 IP 和网线"}}));
        QCOMPARE(client_.paramCache(), cache);
    }

    void exportGivesUpAfter10s()
    {
        sim_.set({{"export", QString(QByteArray("earlier").toBase64())}});
        QVERIFY(client_.exportPreset(2).value("ok").toBool());
        sim_.fault("/data_export/SAVE0.txt", "never");
        clock_.start();
        const QVariantMap result = client_.exportPreset(2);
        QVERIFY(clock_.elapsed() >= kCoarse * 10000);
        QCOMPARE(result.value("message").toString(),
                 QString("导出失败：设备没回应，检查 IP 和网线"));
        QFile file(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                   + "/预设-3.Parm");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("earlier"));
    }

    void importGivesUpAfter15s()
    {
        QTemporaryDir folder;
        QFile file(folder.filePath("x.Parm"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\"GAINgain16\":3}") > 0);
        file.close();
        sim_.fault("/test.fcgi/api/preset/import", "never");
        const QJsonObject cache = client_.paramCache();
        clock_.start();
        const QVariantMap result = client_.importPreset(file.fileName());
        QVERIFY(clock_.elapsed() >= kCoarse * 15000);
        QCOMPARE(result.value("message").toString(),
                 QString("导入没成功：设备没回应，检查 IP 和网线"));
        QCOMPARE(client_.paramCache(), cache);
    }

    // Pings go out every 5 s with an empty payload; a processor that stops answering them and
    // sends nothing else is given up after more than 25 s, within 30 s.
    void linkIsLostAfter25sOfSilence()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!sim_.log("ws_ping").isEmpty(), 15000);
        QCOMPARE(sim_.log("ws_ping").value(0).value("payload").toString(), QString());
        QSignalSpy messages(&client_, &ProcessorClient::message);
        sim_.set({{"silent", true}});
        QTRY_VERIFY_WITH_TIMEOUT(!client_.isConnected(), 40000);
        const double lostAt = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        double lastPong = 0;
        for (const QJsonObject &ping : sim_.log("ws_ping")) {
            if (ping.value("answered").toBool())
                lastPong = ping.value("time").toDouble();
        }
        QVERIFY2(lostAt - lastPong > 25.0 && lostAt - lastPong < 30.5,
                 qPrintable(QString::number(lostAt - lastPong)));
        QCOMPARE(client_.statusLine(), QString("连接已断开"));
        QCOMPARE(snt::test::messages(messages),
                 QStringList{"和处理器断开了，重新连接一下。|warning"});
        QTRY_COMPARE_WITH_TIMEOUT(sim_.log("ws_closed").value(0).value("code").toInt(), 1000,
                                  10000);
    }
};

SNT_TEST_MAIN(LongWaitTest)
#include "LongWaitTest.moc"
