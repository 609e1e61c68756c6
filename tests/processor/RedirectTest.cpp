#include "tests/processor/JsonPeer.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

using snt::test::addRedirectRows;
using snt::test::JsonPeer;
using snt::test::messages;
using snt::test::SimProcessor;

// A processor that answers with a redirect is answered by no one else: its status is one other
// than 200 like any other, the address it names hears nothing, and nothing is shown as done.
class RedirectTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor processor_;
    // Answers everything as a processor would, so that a request sent on to it would succeed.
    JsonPeer elsewhere_{R"({"data":{"DEVINFOdev_name0":"REDIRECTED","status":"ok"}})"};
    ProcessorClient client_;
    QTemporaryDir files_;
    QJsonObject cacheBefore_;

    // From now on the processor answers every request to `path` ("*": to any path) with
    // `status` and the address of the peer elsewhere.
    void redirect(int status, const QString &path = "*")
    {
        processor_.redirect(path, status, QString("http://%1/test.fcgi").arg(elsewhere_.address()));
    }

    // The processor got the requests and answered them; the peer it pointed at got nothing, and
    // the cache holds what it held before.
    void verifyNothingDone()
    {
        QVERIFY(!processor_.log("http").isEmpty());
        QCOMPARE(elsewhere_.connections(), 0);
        QCOMPARE(elsewhere_.requests(), QList<QByteArray>());
        QCOMPARE(client_.paramCache(), cacheBefore_);
    }

    static QVariantMap failed(const QString &message)
    {
        return {{"ok", false}, {"message", message}};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(processor_.start());
        QVERIFY(elsewhere_.listen());
        QVERIFY(files_.isValid());
    }

    void init()
    {
        processor_.command("clear_faults");
        if (!client_.isConnected())
            QVERIFY(snt::test::connectTo(client_, processor_));
        processor_.command("clear_log");
        elsewhere_.clear();
        cacheBefore_ = client_.paramCache();
    }

    void connectionFails_data() { addRedirectRows(); }

    void connectionFails()
    {
        QFETCH(int, status);
        client_.disconnectDevice();
        redirect(status);
        QSignalSpy said(&client_, &ProcessorClient::message);
        client_.connectToDevice();
        QVERIFY(!client_.isConnected());
        QCOMPARE(client_.statusLine(), QString("连不上"));
        QCOMPARE(messages(said), QStringList{QString("连不上处理器：HTTP %1|warning").arg(status)});
        verifyNothingDone();
    }

    void commandFails_data() { addRedirectRows(); }

    void commandFails()
    {
        QFETCH(int, status);
        redirect(status);
        QJsonObject result;
        QString error;
        QVERIFY(!client_.postJson({{"CURSOR", QJsonObject()}}, result, error, 2000, "/test.fcgi"));
        QCOMPARE(error, QString("HTTP %1").arg(status));
        QCOMPARE(client_.postCommand({{"STARTUP", QJsonObject{{"id", 0}}}}, "好"),
                 failed(QString("没成功：HTTP %1").arg(status)));
        verifyNothingDone();
    }

    void writesFail_data() { addRedirectRows(); }

    void writesFail()
    {
        QFETCH(int, status);
        redirect(status);
        QSignalSpy said(&client_, &ProcessorClient::message);
        QSignalSpy resetDone(&client_, &ProcessorClient::resetFinished);

        QCOMPARE(client_.resetDevice(), failed(QString("没成功：HTTP %1").arg(status)));
        QCOMPARE(client_.writeParams({{"GAINgain28", -6.0}}),
                 failed(QString("没写进去：HTTP %1").arg(status)));
        client_.forceResetLegacyParams();
        QCOMPARE(messages(said), QStringList{QString("重置没成功：HTTP %1|warning").arg(status)});
        QCOMPARE(resetDone.count(), 0);

        // The live post does not wait; once its answer is in, the cache holds the old gain again.
        QTimer flush;
        ProcessorClient::LivePath path;
        path.timer = &flush;
        path.hasPending = [] {
            return false;
        };
        client_.postLive({{"GAINgain29", -9.0}}, path);
        QTRY_VERIFY_WITH_TIMEOUT(!path.inFlight, snt::test::kPeerTimeoutMs);
        verifyNothingDone();
    }

    void presetTransfersFail_data() { addRedirectRows(); }

    // The export asks twice (to make the file, then for it) and either may be redirected; the
    // import uploads once. No file reaches the desktop and the cache stays as it was.
    void presetTransfersFail()
    {
        QFETCH(int, status);
        const QString http = QString("HTTP %1").arg(status);
        const QString exported = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                                 + "/预设-3.Parm";
        for (const QString path : {"/save0_export.cgi", "/data_export/SAVE0.txt"}) {
            processor_.command("clear_faults");
            redirect(status, path);
            QCOMPARE(client_.exportPreset(2), failed("导出失败：" + http));
            QVERIFY(!QFile::exists(exported));
        }

        redirect(status, "/test.fcgi/api/preset/import");
        const QString file = files_.filePath("live.Parm");
        QFile settings(file);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(R"({"GAINgain28": -7.5})");
        settings.close();
        QCOMPARE(client_.importPreset(file), failed("导入没成功：" + http));
        verifyNothingDone();
    }
};

SNT_TEST_MAIN(RedirectTest)
#include "RedirectTest.moc"
