#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

using snt::test::SimProcessor;

namespace {

QVariantList doubles(std::initializer_list<double> values)
{
    QVariantList list;
    for (double v : values)
        list.append(v);
    return list;
}

bool near(const QVariantList &got, const QVariantList &want)
{
    if (got.size() != want.size())
        return false;
    for (int i = 0; i < got.size(); ++i) {
        if (std::abs(got[i].toDouble() - want[i].toDouble()) > 1e-9)
            return false;
    }
    return true;
}

} // namespace

class LevelSocketTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    ProcessorClient client_;

    // Sends `text` over the level socket and waits until the client has surely handled it: a
    // marker message that follows it on the same socket has arrived.
    void pushAndSettle(const QString &text)
    {
        QSignalSpy handled(&client_, &ProcessorClient::channelsChanged);
        sim_.command("push", {{"text", text}});
        sim_.push({{"PRESETmarker", 1}});
        QTRY_VERIFY_WITH_TIMEOUT(handled.count() > 0, 10000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sim_.start());
        QVERIFY(snt::test::connectTo(client_, sim_));
    }

    // Outputs show -60..0 dB, inputs -40..+20 dB; a level text that is no number counts as 0 dB.
    void metersOfBothScales_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QVariantList>("in");
        QTest::addColumn<QVariantList>("out");
        QTest::newRow("output 3 at -6 dB") << R"({"data":{"VUvu30":-6}})" << doubles({0, 0, 0, 0})
                                           << doubles({0, 0, 0.9, 0, 0, 0, 0, 0});
        QTest::newRow("input B at -6 dB")
                << R"({"data":{"VUvu17":-6}})" << doubles({0, 34.0 / 60, 0, 0})
                << doubles({0, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("level as text") << R"({"VUvu28":"-12.5"})" << doubles({0, 0, 0, 0})
                                       << doubles({47.5 / 60, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("text that is no number") << R"({"VUvu28":"loud"})" << doubles({0, 0, 0, 0})
                                                << doubles({1, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("clamped") << R"({"VUvu16":25,"VUvu19":-45,"VUvu35":3,"VUvu29":-80})"
                                 << doubles({1, 0, 0, 0}) << doubles({0, 0, 0, 0, 0, 0, 0, 1});
        QTest::newRow("numbers out of range or bad")
                << R"({"VUvu60":-6,"VUvu-1":-6,"VUvux":-6,"VUvu":-6})" << doubles({0, 0, 0, 0})
                << doubles({0, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("all meters")
                << R"({"data":{"VUvu16":0,"VUvu17":-10,"VUvu18":-20,"VUvu19":-30,"VUvu28":0,)"
                   R"("VUvu29":-6,"VUvu30":-12,"VUvu31":-18,"VUvu32":-24,"VUvu33":-30,"VUvu34":-36,)"
                   R"("VUvu35":-42}})"
                << doubles({40.0 / 60, 30.0 / 60, 20.0 / 60, 10.0 / 60})
                << doubles({1, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3});
    }

    void metersOfBothScales()
    {
        QFETCH(QString, message);
        QFETCH(QVariantList, in);
        QFETCH(QVariantList, out);
        client_.handleLevelMessage(R"({"data":{"VUvu16":-80,"VUvu17":-80,"VUvu18":-80,)"
                                   R"("VUvu19":-80,"VUvu28":-80,"VUvu29":-80,"VUvu30":-80,)"
                                   R"("VUvu31":-80,"VUvu32":-80,"VUvu33":-80,"VUvu34":-80,)"
                                   R"("VUvu35":-80}})");
        QSignalSpy levels(&client_, &ProcessorClient::levelsChanged);
        pushAndSettle(message);
        QCOMPARE(levels.count(), 1);
        QVERIFY2(near(client_.levelsIn(), in), qPrintable(QVariant(client_.levelsIn()).toString()));
        QVERIFY(near(client_.levelsOut(), out));
    }

    // Parameter keys of the known groups ride along and are merged once; other keys are not.
    void parametersRideAlong()
    {
        QSignalSpy levels(&client_, &ProcessorClient::levelsChanged);
        QSignalSpy channels(&client_, &ProcessorClient::channelsChanged);
        sim_.push({{"data", QJsonObject{{"VUvu29", -3},
                                        {"GAINgain28", -4.5},
                                        {"CPUload", 37},
                                        {"WSI", "?next?"}}}});
        QTRY_COMPARE_WITH_TIMEOUT(channels.count(), 1, 10000);
        QCOMPARE(levels.count(), 1);
        QCOMPARE(channels.count(), 1);
        QCOMPARE(client_.paramCache().value("GAINgain28").toDouble(), -4.5);
        QVERIFY(!client_.paramCache().contains("CPUload"));
        QCOMPARE(client_.wsiQuery(), QString("next"));
    }

    void badFramesAreDropped()
    {
        const QJsonObject cache = client_.paramCache();
        QSignalSpy levels(&client_, &ProcessorClient::levelsChanged);
        for (const char *text : {"not JSON", "[1,2]", "\"VUvu30\"", R"({"CPUload":3})",
                                 R"({"data":{"vuvu30":-6,"gaingain28":1}})"})
            pushAndSettle(text);
        QCOMPARE(levels.count(), 0);
        QJsonObject expected = cache;
        expected.insert("PRESETmarker", 1);
        QCOMPARE(client_.paramCache(), expected);
    }

    void droppedSocketReopens()
    {
        const int opened = sim_.log("ws_open").size();
        sim_.command("ws_close", {{"code", 1001}});
        QTRY_COMPARE_WITH_TIMEOUT(sim_.log("ws_open").size(), opened + 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(sim_.state().value("sockets").toInt(), 1, 10000);
        QVERIFY(client_.isConnected());
    }

    void refusedSocketIsRetried()
    {
        sim_.set({{"ws_mode", "refuse"}});
        const int opened = sim_.log("ws_open").size();
        sim_.command("ws_close");
        QTRY_VERIFY_WITH_TIMEOUT(sim_.log("ws_open").size() >= opened + 2, 15000);
        QVERIFY(client_.isConnected());
        sim_.set({{"ws_mode", "accept"}});
        QTRY_COMPARE_WITH_TIMEOUT(sim_.state().value("sockets").toInt(), 1, 15000);
    }

    void disconnectClosesAndStaysClosed()
    {
        client_.handleLevelMessage(R"({"VUvu30":0})");
        client_.disconnectDevice();
        QCOMPARE(client_.levelsOut(), doubles({0, 0, 0, 0, 0, 0, 0, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(sim_.state().value("sockets").toInt(), 0, 10000);
        const int opened = sim_.log("ws_open").size();
        QTest::qWait(3000); // longer than the reconnect timer
        QCOMPARE(sim_.log("ws_open").size(), opened);
    }
};

SNT_TEST_MAIN(LevelSocketTest)
#include "LevelSocketTest.moc"
