// The editing rules, the preset file and the processor list, each against the behaviour written
// down for the engineer (the preset files byte for byte against hand-written fixtures, the
// corner names against the processor client's own table of filter types).
#include "app/EqPreset.h"
#include "app/ProcessorEqList.h"
#include "app/SchemeEditing.h"
#include "processor/ProcessorClient.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

#include <cmath>

using snt::eq::Corner;
using snt::eq::SchemeBand;
using Bands = QList<SchemeBand>;

Q_DECLARE_METATYPE(snt::eq::Corner)

namespace {

Bands bandsAt(const QList<float> &hz)
{
    Bands bands;
    for (const float f : hz)
        bands.append({f, 1.0f, 1.0f, true});
    return bands;
}

QByteArray fixture(const char *name)
{
    QFile file(QFINDTESTDATA(QStringLiteral("fixtures/") + QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class DeliveryRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void newBandGoesToTheFirstFreeCandidate_data()
    {
        QTest::addColumn<QList<float>>("existing");
        QTest::addColumn<float>("expected"); // 0: refused
        QTest::newRow("empty") << QList<float>() << 1000.0f;
        QTest::newRow("1000 and 1100 taken") << QList<float>{1000, 1100} << 2000.0f;
        QTest::newRow("1060 is near 1000") << QList<float>{1060} << 2000.0f;
        QTest::newRow("1130 is not") << QList<float>{1130} << 1000.0f;
        QTest::newRow("every candidate taken")
                << QList<float>{1000, 2000, 500, 4000, 250, 8000, 125, 16000} << 1000.0f;
        QTest::newRow("twelve bands") << QList<float>(12, 50.0f) << 0.0f;
    }

    void newBandGoesToTheFirstFreeCandidate()
    {
        QFETCH(QList<float>, existing);
        QFETCH(float, expected);
        Bands bands = bandsAt(existing);
        QCOMPARE(schemeedit::addBand(bands), expected > 0.0f);
        if (expected > 0.0f)
            QCOMPARE(bands.first(), (SchemeBand{expected, 3.0f, 1.0f, true}));
        QCOMPARE(bands.size(), std::min(existing.size() + 1, qsizetype(12)));
    }

    void cornerEdits_data()
    {
        QTest::addColumn<Corner>("before");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("slope");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<Corner>("after");
        const Corner bw{true, "BW", 2, 80};
        const Corner lr{true, "LR", 2, 80};
        QTest::newRow("clamped, 18 dB/oct")
                << bw << 5.0 << 18.0 << true << Corner{true, "BW", 3, 10};
        QTest::newRow("LR takes an even order")
                << lr << 5.0 << 18.0 << true << Corner{true, "LR", 4, 10};
        QTest::newRow("halves round up")
                << bw << 100.0 << 15.0 << true << Corner{true, "BW", 3, 100};
        QTest::newRow("steepest is 8")
                << lr << 30000.0 << 100.0 << true << Corner{true, "LR", 8, 24000};
        QTest::newRow("empty kind becomes BW")
                << Corner() << 60.0 << 6.0 << true << Corner{true, "BW", 1, 60};
        QTest::newRow("slope 0 switches off")
                << bw << 80.0 << 0.0 << true << Corner{false, "BW", 2, 80};
        QTest::newRow("off again is no edit") << Corner{false, "BW", 2, 80} << 80.0 << -6.0 << false
                                              << Corner{false, "BW", 2, 80};
        QTest::newRow("same values") << bw << 80.0005 << 12.0 << false << bw;
        QTest::newRow("not finite") << bw << double(NAN) << 12.0 << false << bw;
    }

    void cornerEdits()
    {
        QFETCH(Corner, before);
        QFETCH(double, hz);
        QFETCH(double, slope);
        QFETCH(bool, changed);
        QFETCH(Corner, after);
        QCOMPARE(schemeedit::updateCorner(before, hz, slope), changed);
        QCOMPARE(before, after);
    }

    void cornerTypes()
    {
        Corner corner{true, "LR", 4, 100};
        QVERIFY(!schemeedit::updateCornerType(corner, "lr"));
        for (const char *other : {"butterworth", "", "x"}) {
            Corner c{true, "BS", 3, 100};
            QVERIFY(schemeedit::updateCornerType(c, other));
            QCOMPARE(c, (Corner{true, "BW", 3, 100}));
        }
    }

    void gainTextUsesTheMinusSign()
    {
        QCOMPARE(schemeedit::formatGain(0.0), QString("+0.0 dB"));
        QCOMPARE(schemeedit::formatGain(-2.5), QString("\u22122.5 dB"));
        QVERIFY(!schemeedit::formatGain(-0.5).contains('-'));
    }

    // A corner that is off, and the cards of a blocked scheme.
    void cornerCards()
    {
        const QVariantMap cards = schemeedit::cornerCards({true, "", 4, 1500}, {false, "LR", 2, 0});
        QCOMPARE(cards.value("hpfValue"), QVariant("1.5"));
        QCOMPARE(cards.value("hpfUnit"), QVariant("kHz"));
        QCOMPARE(cards.value("hpfType"), QVariant("BW"));
        QCOMPARE(cards.value("lpfValue"), QVariant("不开"));
        QCOMPARE(cards.value("lpfSlope"), QVariant(""));
        QCOMPARE(cards.value("lpfHz"), QVariant(24000.0));
        const QVariantMap blocked = schemeedit::blockedCornerCards("太吵");
        QCOMPARE(blocked.value("hpfValue"), QVariant("—"));
        QCOMPARE(blocked.value("hpfHz"), QVariant(20.0));
        QCOMPARE(blocked.keys(), cards.keys());
    }

    void presetFilesByteForByte_data()
    {
        QTest::addColumn<Bands>("bands");
        QTest::addColumn<Corner>("highPass");
        QTest::addColumn<Corner>("lowPass");
        QTest::addColumn<double>("gain");
        QTest::addColumn<bool>("polar");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("LR and Bessel corners; a disabled and a flat band left out")
                << Bands{{1000, -3.5f, 1.414f, true},
                         {250, 0.00009f, 2, true},
                         {4000, 2, 0.7f, false},
                         {63.5f, 4.25f, 5, true}}
                << Corner{true, "LR", 4, 80} << Corner{true, "BS", 2, 16000} << 0.0 << false
                << fixture("lr-bessel.kvr");
        QTest::newRow("high-pass off, low-pass on at no frequency, gain and polarity")
                << Bands{{120, 6, 0.7f, true}} << Corner{false, "LR", 4, 80}
                << Corner{true, "", 1, 0} << -2.5 << true << fixture("corners-left-out.kvr");
    }

    void presetFilesByteForByte()
    {
        QFETCH(Bands, bands);
        QFETCH(Corner, highPass);
        QFETCH(Corner, lowPass);
        QFETCH(double, gain);
        QFETCH(bool, polar);
        QFETCH(QByteArray, expected);
        QVERIFY(!expected.isEmpty());
        const QString folder = QDir::homePath() + "/new/Desktop";
        QVERIFY(eqpreset::writePresetFile(
                folder, "EQ", eqpreset::presetJson(bands, highPass, lowPass, gain, polar)));
        QFile file(folder + "/EQ.kvr");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
    }

    void failedPresetWriteKeepsTheOlderFile()
    {
        const QString folder = QDir::homePath() + "/keep";
        QVERIFY(eqpreset::writePresetFile(folder, "A", eqpreset::presetJson({}, {}, {})));
        QFile older(folder + "/A.kvr");
        QVERIFY(older.open(QIODevice::ReadOnly));
        const QByteArray content = older.readAll();
        // A folder standing where the file would go: the replacement cannot be renamed in.
        QVERIFY(QDir().mkpath(folder + "/B.kvr"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write .*B.kvr"));
        QVERIFY(!eqpreset::writePresetFile(folder, "B", eqpreset::presetJson({}, {}, {})));
        QVERIFY(!eqpreset::writePresetFile(folder + "/A.kvr", "C",
                                           eqpreset::presetJson({}, {}, {})));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"A.kvr"});
        older.seek(0);
        QCOMPARE(older.readAll(), content);
    }

    void presetBaseNames()
    {
        QCOMPARE(eqpreset::presetBaseName("主扩 左/右"), QString("主扩左_右"));
        QCOMPARE(eqpreset::presetBaseName("a\\b:c*d?e\"f<g>h|i"), QString("a_b_c_d_e_f_g_h_i"));
        QCOMPARE(eqpreset::presetBaseName(" \t "), QString("EQ"));
    }

    void processorListKeepsEveryBand()
    {
        const ProcessorEqList list
                = ProcessorEqList::fromScheme({{1000, -3.5f, 1.414f, true}, {250, 0, 2, false}},
                                              {false, "LR", 4, 80}, {true, "BW", 2, 12000});
        QCOMPARE(list.filters.size(), 2);
        QCOMPARE(list.filters[0].toObject(), (QJsonObject{{"enabled", true},
                                                          {"filter_type", "peak"},
                                                          {"frequency_hz", 1000},
                                                          {"gain_db", -3.5},
                                                          {"q", 1.414}}));
        QCOMPARE(list.filters[1].toObject().value("enabled"), QJsonValue(false));
        QVERIFY(list.hpf.isEmpty());
        QCOMPARE(list.lpf, (QJsonObject{{"filter_type", "butter12"}, {"frequency_hz", 12000}}));
        QVERIFY(ProcessorEqList::fromScheme({}, {true, "BW", 0, 80}, {true, "BW", 2, 0})
                        .hpf.isEmpty());
    }

    // A corner goes into the preset file exactly when it goes to the processor: one that is on
    // but at no frequency goes to neither, on either side.
    void cornersLeaveByOneRule()
    {
        const QList<std::pair<Corner, bool>> corners{{{true, "LR", 4, 80}, true},
                                                     {{true, "BW", 2, 0}, false},
                                                     {{true, "BS", 3, -20}, false},
                                                     {{true, "BW", 0, 80}, false},
                                                     {{false, "LR", 4, 80}, false}};
        for (const auto &[corner, delivered] : corners) {
            for (const bool highPass : {true, false}) {
                const Corner highCorner = highPass ? corner : Corner{};
                const Corner lowCorner = highPass ? Corner{} : corner;
                const QJsonArray iir
                        = eqpreset::presetJson({}, highCorner, lowCorner)["iir"].toArray();
                const ProcessorEqList list = ProcessorEqList::fromScheme({}, highCorner, lowCorner);
                QCOMPARE(iir.size(), delivered ? 1 : 0);
                QCOMPARE((highPass ? list.hpf : list.lpf).isEmpty(), !delivered);
            }
        }
    }

    // The order rounding of every kind is checked against the processor below; here the
    // spellings of the kind.
    void processorCornerNames_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("name");
        QTest::newRow("Bessel 8") << "Bessel" << 8 << "bessel48";
        QTest::newRow("BW 6") << " bw " << 6 << "butter36";
        QTest::newRow("empty kind") << "" << 3 << "butter18";
    }

    void processorCornerNames()
    {
        QFETCH(QString, kind);
        QFETCH(int, order);
        QFETCH(QString, name);
        QCOMPARE(ProcessorEqList::filterType(kind, order), name);
    }

    // Every name the list produces is a corner type the processor has: of the slope asked for,
    // or of the next flatter one the processor has for that family.
    void everyCornerReachesTheProcessor()
    {
        // The processor's corner types: 0-5 Butterworth, 6-11 Bessel, 12-15 Linkwitz-Riley.
        const QList<int> slopes{6, 12, 18, 24, 36, 48};
        const QList<int> lrSlopes{12, 24, 36, 48};
        for (const QString kind : {"BW", "BS", "LR"}) {
            const QList<int> &available = kind == "LR" ? lrSlopes : slopes;
            for (int order = 1; order <= 8; ++order) {
                const int code
                        = ProcessorClient::filterTypeCode(ProcessorEqList::filterType(kind, order));
                QVERIFY(code >= 0);
                QCOMPARE(code / 6, kind == "BW" ? 0 : kind == "BS" ? 1 : 2);
                int expected = available.first();
                for (const int slope : available)
                    expected = slope <= order * 6 ? slope : expected;
                QCOMPARE(kind == "LR" ? lrSlopes[code - 12] : slopes[code % 6], expected);
            }
        }
    }
};

SNT_TEST_MAIN(DeliveryRulesTest)
#include "DeliveryRulesTest.moc"
