#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QTcpServer>
#include <QTimer>

using snt::test::SimProcessor;

class TransportTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    ProcessorClient client_;

    bool post(const QJsonObject &request, QJsonObject &result, QString &error,
              const QString &path = "/test.fcgi", int timeoutMs = 2000)
    {
        return client_.postJson(request, result, error, timeoutMs, path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sim_.start());
        QVERIFY(snt::test::connectTo(client_, sim_));
    }

    void init()
    {
        sim_.command("clear_faults");
        sim_.command("clear_log");
        sim_.set({{"wsi", "wsi=1a2b"}, {"wrap", "data"}});
        client_.setIp(sim_.address());
    }

    void emptyAddressSendsNothing()
    {
        client_.setIp("  ");
        QJsonObject result;
        QString error;
        QVERIFY(!post({{"CURSOR", QJsonObject()}}, result, error));
        QCOMPARE(error, QString("没有填 IP"));
        QVERIFY(sim_.log("http").isEmpty());
    }

    void requestOnTheWire()
    {
        QJsonObject result;
        QString error;
        QVERIFY(post({{"GAINgain16", -3.5}, {"GAINmute16", 1}}, result, error));
        const QJsonObject sent = sim_.log("http").value(0);
        QCOMPARE(sent.value("method").toString(), QString("POST"));
        QCOMPARE(sent.value("path").toString(), QString("/test.fcgi"));
        QCOMPARE(sent.value("query").toString(), QString("wsi=1a2b"));
        QCOMPARE(sent.value("body").toString(), QString(R"({"GAINgain16":-3.5,"GAINmute16":1})"));
        const QJsonObject headers = sent.value("headers").toObject();
        QCOMPARE(headers.value("Content-Type").toString(), QString("application/json"));
        QCOMPARE(headers.value("Connection").toString(), QString("close"));

        // A new WSI replaces the old one without its question marks, on the command path only.
        sim_.fault("CURSOR", "body", {{"body", R"({"WSI":"?abc?","data":{"k":1}})"}});
        QVERIFY(post({{"CURSOR", QJsonObject()}}, result, error));
        QCOMPARE(client_.wsiQuery(), QString("abc"));
        sim_.set({{"wsi", QJsonValue::Null}});
        QVERIFY(post({{"CURSOR", QJsonObject()}}, result, error));
        QVERIFY(post({{"PRESETEXPORT", QJsonObject()}}, result, error, "/save0_export.cgi"));
        const QList<QJsonObject> requests = sim_.log("http");
        QCOMPARE(requests.value(2).value("query").toString(), QString("abc"));
        QCOMPARE(requests.value(3).value("query").toString(), QString());
    }

    void resultUnwrapsOnlyADataObject_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("result");
        QTest::newRow("data object") << R"({"WSI":"w","data":{"a":1},"b":2})"
                                     << R"({"a":1})";
        QTest::newRow("data array") << R"({"data":[1],"b":2})"
                                    << R"({"b":2,"data":[1]})";
        QTest::newRow("no data") << R"({"status":"ok"})"
                                 << R"({"status":"ok"})";
    }

    void resultUnwrapsOnlyADataObject()
    {
        QFETCH(QString, body);
        QFETCH(QString, result);
        sim_.fault("CURSOR", "body", {{"body", body}});
        QJsonObject got;
        QString error;
        QVERIFY(post({{"CURSOR", QJsonObject()}}, got, error));
        QCOMPARE(QJsonDocument(got).toJson(QJsonDocument::Compact), result.toUtf8());
    }

    // A compressed answer is read as the processor meant it, also one that inflates to a
    // megabyte (blanks after the object, within every limit).
    void compressedAnswerIsRead()
    {
        for (const int inflated : {0, 1 << 20}) {
            sim_.fault("CURSOR", "gzip", {{"inflated", inflated}, {"times", 1}});
            QJsonObject result;
            QString error;
            QVERIFY2(post({{"CURSOR", QJsonObject()}}, result, error), qPrintable(error));
            QCOMPARE(result.value("DEVINFOdev_name0").toString(), QString("Moriat DP48"));
        }
        QCOMPARE(sim_.log("http").size(), 2);
    }

    // Every way a request can fail gives its own text, and leaves the cache and WSI alone.
    void transportErrors_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("friendly");
        QTest::newRow("never answers") << "never" << QJsonObject() << "设备没回应，检查 IP 和网线";
        QTest::newRow("answers too late")
                << "delay" << QJsonObject{{"ms", 1500}} << "设备没回应，检查 IP 和网线";
        QTest::newRow("connection reset") << "reset" << QJsonObject() << "连接被设备断开，重试一下";
        QTest::newRow("truncated body")
                << "truncate" << QJsonObject() << "连接被设备断开，重试一下";
        QTest::newRow("204") << "status" << QJsonObject{{"status", 204}} << "HTTP 204";
        QTest::newRow("404") << "status" << QJsonObject{{"status", 404}, {"body", "no"}}
                             << "HTTP 404";
        QTest::newRow("500") << "status" << QJsonObject{{"status", 500}, {"body", "x"}}
                             << "HTTP 500";
        QTest::newRow("not JSON") << "body" << QJsonObject{{"body", "<html>busy</html>"}}
                                  << "设备回的不是 JSON";
        // Qt gives up on a compressed body that inflates beyond 10 MiB at more than 40 times
        // its size, before the client's own limit sees it.
        QTest::newRow("gzip inflating to 16 MiB")
                << "gzip" << QJsonObject{{"inflated", 16 << 20}} << "设备回的不是 JSON";
        QTest::newRow("JSON array")
                << "body" << QJsonObject{{"body", "[1,2]"}} << "设备回的不是 JSON";
        QTest::newRow("refused") << "refused" << QJsonObject() << "设备拒绝了连接，检查 IP 和网线";
    }

    void transportErrors()
    {
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, friendly);
        if (kind == "refused") {
            QTcpServer closed; // a port that was free a moment ago: nothing listens there
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const quint16 port = closed.serverPort();
            closed.close();
            client_.setIp(QString("127.0.0.1:%1").arg(port));
        } else {
            sim_.fault("write", kind, fields);
        }
        const QJsonObject cacheBefore = client_.paramCache();
        const QString wsiBefore = client_.wsiQuery();
        QSignalSpy channels(&client_, &ProcessorClient::channelsChanged);
        QJsonObject result{{"untouched", true}};
        QString error;
        QVERIFY(!post({{"GAINgain28", -6}}, result, error, "/test.fcgi", 1000));
        const QString text = ProcessorClient::friendlyError(error);
        QVERIFY2(text.contains(friendly), qPrintable(error + " -> " + text));
        // The request's address and the session key it carries are no words for the user.
        QVERIFY2(!text.contains("127.0.0.1") && !text.contains("1a2b"), qPrintable(text));
        QCOMPARE(result, (QJsonObject{{"untouched", true}}));
        QCOMPARE(client_.paramCache(), cacheBefore);
        QCOMPARE(client_.wsiQuery(), wsiBefore);
        QCOMPARE(channels.count(), 0);
    }

    // A time-out is "超时" whichever timer wins, the local one or the transfer time-out.
    void timeOutsReadAsTimeOuts()
    {
        for (int ms : {150, 300, 450}) {
            sim_.fault("write", "never", {{"times", 1}});
            QJsonObject result;
            QString error;
            QVERIFY(!post({{"GAINgain28", 0}}, result, error, "/test.fcgi", ms));
            QCOMPARE(error, QString("超时"));
        }
    }

    void commandRefusals_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("status error inside data") << "error";
        QTest::newRow("status error beside data") << "error_outside";
    }

    void commandRefusals()
    {
        QFETCH(QString, kind);
        sim_.fault("STARTUP", kind);
        const QJsonObject cacheBefore = client_.paramCache();
        const QVariantMap result = client_.postCommand({{"STARTUP", QJsonObject{{"id", 0}}}}, "好");
        QCOMPARE(result.value("ok").toBool(), false);
        QCOMPARE(result.value("message").toString(), QString("设备没接受这条操作。"));
        QCOMPARE(client_.paramCache(), cacheBefore);
    }

    void commandStoresEveryReplyKey()
    {
        sim_.fault("STARTUP", "body", {{"body", R"({"data":{"status":"done","NGx1":5}})"}});
        QSignalSpy channels(&client_, &ProcessorClient::channelsChanged);
        const QVariantMap result = client_.postCommand({{"STARTUP", QJsonObject{{"id", 0}}}}, "好");
        QCOMPARE(result, (QVariantMap{{"ok", true}, {"message", "好"}}));
        QCOMPARE(client_.paramCache().value("status").toString(), QString("done"));
        QCOMPARE(client_.paramCache().value("NGx1").toInt(), 5);
        QCOMPARE(channels.count(), 1);
    }

    // The live post does not wait; its reply frees the path and restarts the flush timer while
    // values are still pending.
    void livePostFreesItsPath()
    {
        QTimer flush;
        flush.setSingleShot(true);
        flush.setInterval(60000);
        ProcessorClient::LivePath path{&flush, false, [] {
                                           return true;
                                       }};
        sim_.fault("write", "delay", {{"ms", 200}});
        client_.postLive({{"GAINgain16", -1.5}}, path);
        QVERIFY(path.inFlight);
        QVERIFY(!flush.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!path.inFlight, 5000);
        QVERIFY(flush.isActive());
        const QJsonObject sent = sim_.log("http").value(0);
        QCOMPARE(sent.value("body").toString(), QString(R"({"GAINgain16":-1.5})"));
        QCOMPARE(sent.value("query").toString(), client_.wsiQuery());
        QCOMPARE(sent.value("headers").toObject().value("Connection").toString(), QString("close"));
    }
};

SNT_TEST_MAIN(TransportTest)
#include "TransportTest.moc"
