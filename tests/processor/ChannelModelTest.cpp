// The channel model as the processor panel reads it, fed by merges and full reads without any
// network: how each key is taken, the defaults of the reads, and which curves a key touches.
#include "processor/ProcessorClient.h"
#include "tests/support/TestMain.h"

#include <QJsonObject>
#include <QSignalSpy>

namespace {

QVariantMap strip(const ProcessorClient &client, bool isOut, int idx)
{
    return (isOut ? client.outputs() : client.inputs()).value(idx).toMap();
}

bool flat(const QVariantMap &strip)
{
    const QVariantList peq = strip.value("peq").toList();
    return peq.size() == 33
           && std::all_of(peq.begin(), peq.end(), [](const QVariant &v) { return v == 0.5; });
}

} // namespace

class ChannelModelTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesReachTheStrips_data()
    {
        QTest::addColumn<QList<QJsonObject>>("updates");
        QTest::addColumn<bool>("isOut");
        QTest::addColumn<int>("idx");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected");
        using Updates = QList<QJsonObject>;
        QTest::newRow("output mute from the layer first")
                << Updates{{{"GAINmute20", 1}, {"GAINmute28", 0}}} << true << 0 << "muted"
                << QVariant(true);
        QTest::newRow("then the strip's mute alone")
                << Updates{{{"GAINmute20", 1}, {"GAINmute28", 0}}, {{"GAINmute28", 0}}} << true << 0
                << "muted" << QVariant(false);
        QTest::newRow("mute as text")
                << Updates{{{"GAINmute17", "1"}}} << false << 1 << "muted" << QVariant(true);
        QTest::newRow("mute of another type reads 0")
                << Updates{{{"GAINmute17", 1}}, {{"GAINmute17", QJsonValue()}}} << false << 1
                << "muted" << QVariant(false);
        QTest::newRow("gain as text")
                << Updates{{{"GAINgain16", "-3.5"}}} << false << 0 << "gain" << QVariant(-3.5);
        QTest::newRow("gain of a bool keeps the old")
                << Updates{{{"GAINgain16", -2}}, {{"GAINgain16", true}}} << false << 0 << "gain"
                << QVariant(-2.0);
        QTest::newRow("gain not finite keeps the old")
                << Updates{{{"GAINgain16", -2}}, {{"GAINgain16", qInf()}}} << false << 0 << "gain"
                << QVariant(-2.0);
        QTest::newRow("polarity inverted")
                << Updates{{{"GAINphase30", 0}}} << true << 2 << "inverted" << QVariant(true);
        QTest::newRow("polarity of a word reads normal")
                << Updates{{{"GAINphase30", 0}}, {{"GAINphase30", "x"}}} << true << 2 << "phase"
                << QVariant(true);
        QTest::newRow("delay with two decimals")
                << Updates{{{"DELAYtime35", 2.5}}} << true << 7 << "delay" << QVariant("2.50");
        QTest::newRow("delay as text")
                << Updates{{{"DELAYtime19", "7"}}} << false << 3 << "delay" << QVariant("7.00");
        for (const auto &[gain, fader] :
             {std::pair{-40.0, 0.0}, std::pair{15.0, 1.0}, std::pair{20.0, 1.0},
              std::pair{-50.0, 0.0}, std::pair{-12.5, 0.5}}) {
            QTest::addRow("fader at %g dB", gain)
                    << Updates{{{"GAINgain31", gain}}} << true << 3 << "fader" << QVariant(fader);
        }
        QTest::newRow("input B routed to output 1")
                << Updates{{{"MIXERmute17", 0}}} << true << 0 << "routes"
                << QVariant(QVariantList{false, true, false, false});
        QTest::newRow("routes come from the whole cache")
                << Updates{{{"MIXERmute47", "0"}}, {{"GAINgain16", 1}}} << true << 7 << "routes"
                << QVariant(QVariantList{false, false, false, true});
        QTest::newRow("no mixer keys route nothing")
                << Updates{{}} << true << 0 << "routes"
                << QVariant(QVariantList{false, false, false, false});
        QTest::newRow("input names") << Updates{} << false << 2 << "name" << QVariant("C");
        QTest::newRow("output names") << Updates{} << true << 5 << "name" << QVariant("6");
    }

    void mergesReachTheStrips()
    {
        QFETCH(QList<QJsonObject>, updates);
        QFETCH(bool, isOut);
        QFETCH(int, idx);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        ProcessorClient client;
        QSignalSpy changed(&client, &ProcessorClient::channelsChanged);
        for (const QJsonObject &update : updates)
            client.mergeParams(update);
        QCOMPARE(changed.count(), updates.size());
        QCOMPARE(strip(client, isOut, idx).value(field), expected);
    }

    // A full read is the device's whole state: a setting it does not report shows as on a
    // channel never read, not as an earlier read left it.
    void fullReadShowsUnreportedSettingsAsNeverRead()
    {
        ProcessorClient client;
        client.replaceCache({{"GAINgain16", -20},
                             {"GAINmute17", 1},
                             {"DELAYtime19", 3},
                             {"GAINmute20", 1},
                             {"GAINphase30", 0},
                             {"DELAYtime35", 2.5}});
        client.replaceCache({});
        const ProcessorClient neverRead;
        QCOMPARE(client.inputs(), neverRead.inputs());
        QCOMPARE(client.outputs(), neverRead.outputs());
    }

    void keysRebuildOnlyTheirCurve()
    {
        ProcessorClient client;
        client.mergeParams({{"PEQfreq145", 1000}, {"PEQgain145", 6}, {"PEQbps145", 0}});
        client.mergeParams({{"HLPFbps13", 0}, {"HLPFfreq13", 1000}, {"HLPFtype13", 13}});
        client.mergeParams({{"HLPFbps20", 0}, {"HLPFfreq20", 100}, {"HLPFtype20", 1}});
        for (const bool isOut : {false, true}) {
            for (int idx = 0; idx < (isOut ? 8 : 4); ++idx) {
                const bool touched = (isOut && (idx == 0 || idx == 4)) || (!isOut && idx == 1);
                QVERIFY2(flat(strip(client, isOut, idx)) != touched,
                         qPrintable(QString("%1 %2").arg(isOut).arg(idx)));
            }
        }
        // The low-pass of input B at 1 kHz pulls the top of its curve to the floor.
        QCOMPARE(strip(client, false, 1).value("peq").toList().last(), QVariant(0.0));
    }

    void emptyCacheReads()
    {
        ProcessorClient client;
        const QVariantMap band{
                {"freq", 100.0}, {"gain", 0.0}, {"q", 1.0}, {"type", 0}, {"bypass", true}};
        QVariantList bands;
        for (int b = 0; b < 15; ++b)
            bands.append(band);
        const QVariantMap eq{{"ok", true},
                             {"bands", bands},
                             {"hpf", QVariantMap{{"freq", 20.0}, {"type", 1}, {"bypass", true}}},
                             {"lpf", QVariantMap{{"freq", 20000.0}, {"type", 1}, {"bypass", true}}},
                             {"count", 15}};
        QCOMPARE(client.readEqChannel(true, 7), eq);
        QCOMPARE(client.readEqChannel(false, 3), eq);
        const QVariantMap dynamics{{"compEnabled", false}, {"compThrd", 18.0}, {"compKnee", 30},
                                   {"compRatio", 20.0},    {"compAttack", 20}, {"compRelease", 200},
                                   {"limEnabled", false},  {"limThrd", 18.0},  {"limRelease", 200}};
        QCOMPARE(client.readDynamics(0), dynamics);
        for (const auto &[isOut, idx] :
             {std::pair{true, 8}, std::pair{false, 4}, std::pair{false, -1}})
            QVERIFY(client.readEqChannel(isOut, idx).isEmpty());
        QVERIFY(client.readDynamics(8).isEmpty());
        QVERIFY(client.readDynamics(-1).isEmpty());
    }

    void readsTakeNumericTexts()
    {
        ProcessorClient client;
        client.mergeParams({{"PEQfreq17", "250"},
                            {"PEQbps17", "0"},
                            {"HLPFtype13", "14"},
                            {"COMPthrd11", "-6.5"},
                            {"BYPASSbypass27", "0"},
                            {"COMPknee11", "x"}});
        const QVariantMap eq = client.readEqChannel(false, 1);
        QCOMPARE(eq["bands"].toList()[2].toMap()["freq"], QVariant(250.0));
        QCOMPARE(eq["bands"].toList()[2].toMap()["bypass"], QVariant(false));
        QCOMPARE(eq["lpf"].toMap()["type"], QVariant(14));
        const QVariantMap dynamics = client.readDynamics(7);
        QCOMPARE(dynamics["compThrd"], QVariant(-6.5));
        QCOMPARE(dynamics["limEnabled"], QVariant(true));
        QCOMPARE(dynamics["compKnee"], QVariant(30));
    }
};

SNT_TEST_MAIN(ChannelModelTest)
#include "ChannelModelTest.moc"
