// The predicted EQ curves against analytic truths of the filters they model, and against
// whatever a device's cache may hold.
#include "processor/EqSections.h"
#include "processor/ProcessorClient.h"
#include "tests/support/TestMain.h"

#include <QJsonObject>

#include <cmath>

using namespace processor;

namespace {

// The grid point near 1 kHz: a filter tuned exactly to it is evaluated at its own frequency.
constexpr int kAt1k = 296;
const double kThreeDb = 20.0 * std::log10(std::sqrt(0.5)); // -3.0103 dB
const double kSixDb = 2.0 * kThreeDb;

double fc()
{
    return eqFrequencyGrid()[kAt1k];
}

Sections sectionsOf(const QString &kind, int type, double gain, double q)
{
    if (kind == "band")
        return bandSection(fc(), gain, q, type);
    return cornerSections(fc(), type, kind == "hp");
}

bool allFiniteWithin(const QList<float> &values, float low, float high)
{
    for (const float v : values) {
        if (!std::isfinite(v) || v < low || v > high)
            return false;
    }
    return true;
}

} // namespace

class EqCurveTest : public QObject
{
    Q_OBJECT

private slots:
    void gridSpansTenHertzTo24k()
    {
        const QList<float> &grid = eqFrequencyGrid();
        QCOMPARE(grid.size(), 501);
        QCOMPARE(grid.first(), 10.0f);
        QCOMPARE(grid.last(), 24000.0f);
        QVERIFY(std::abs(grid[250] / grid[249] - grid[1] / grid[0]) < 1e-5);
    }

    void levelAtAGridPoint_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("q");
        QTest::addColumn<int>("at");
        QTest::addColumn<double>("expectedDb");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("peaking +6 at its centre")
                << "band" << 0 << 6.0 << 1.0 << kAt1k << 6.0 << 1e-4;
        QTest::newRow("peaking -12, Q 4") << "band" << 0 << -12.0 << 4.0 << kAt1k << -12.0 << 1e-4;
        QTest::newRow("low shelf +9: plateau") << "band" << 1 << 9.0 << 0.707 << 0 << 9.0 << 0.01;
        QTest::newRow("low shelf +9: half at corner")
                << "band" << 1 << 9.0 << 0.707 << kAt1k << 4.5 << 1e-4;
        QTest::newRow("low shelf +9: top") << "band" << 1 << 9.0 << 0.707 << 500 << 0.0 << 0.01;
        QTest::newRow("high shelf -6: bottom") << "band" << 2 << -6.0 << 0.707 << 0 << 0.0 << 0.01;
        QTest::newRow("high shelf -6: plateau")
                << "band" << 2 << -6.0 << 0.707 << 500 << -6.0 << 0.01;
        QTest::newRow("low-pass by Q (6)")
                << "band" << 6 << 0.0 << 0.70710678 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("high-pass by Q (7)")
                << "band" << 7 << 0.0 << 0.70710678 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("cookbook low-pass (8)")
                << "band" << 8 << 0.0 << 0.70710678 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("cookbook high-pass (9)")
                << "band" << 9 << 0.0 << 0.70710678 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("first-order low-pass (10)")
                << "band" << 10 << 0.0 << 1.0 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("first-order high-pass (11)")
                << "band" << 11 << 0.0 << 1.0 << kAt1k << kThreeDb << 1e-4;
        QTest::newRow("band-pass at its centre")
                << "band" << 12 << 0.0 << 2.0 << kAt1k << 0.0 << 1e-4;
        for (const int type : {0, 1, 2, 3, 4, 5}) {
            for (const char *side : {"hp", "lp"}) {
                QTest::addRow("Butterworth %s type %d at its corner", side, type)
                        << side << type << 0.0 << 0.0 << kAt1k << kThreeDb << 0.005;
            }
        }
        for (const int type : {12, 13, 14, 15}) {
            for (const char *side : {"hp", "lp"}) {
                QTest::addRow("Linkwitz-Riley %s type %d at its corner", side, type)
                        << side << type << 0.0 << 0.0 << kAt1k << kSixDb << 0.005;
            }
        }
    }

    void levelAtAGridPoint()
    {
        QFETCH(QString, kind);
        QFETCH(int, type);
        QFETCH(double, gain);
        QFETCH(double, q);
        QFETCH(int, at);
        QFETCH(double, expectedDb);
        QFETCH(double, tolerance);
        const QList<float> levels = responseOnGrid(sectionsOf(kind, type, gain, q));
        QVERIFY2(std::abs(levels[at] - expectedDb) <= tolerance,
                 qPrintable(QString("%1 dB").arg(levels[at])));
    }

    void notchIsDeepAtItsCentre()
    {
        for (const int type : {13, 14})
            QVERIFY(responseOnGrid(bandSection(fc(), 0.0, 2.0, type))[kAt1k] < -100.0f);
    }

    void allPassesAreFlat()
    {
        for (const int type : {3, 4, 5}) {
            const QList<float> levels = responseOnGrid(bandSection(fc(), 12.0, 3.0, type));
            QVERIFY2(allFiniteWithin(levels, -1e-3f, 1e-3f), qPrintable(QString::number(type)));
        }
    }

    // The thumbnail's own figures: 33 points from 30 Hz to 18 kHz, ±18 dB over 0..1.
    void thumbnailPoints_data()
    {
        QTest::addColumn<Sections>("sections");
        QTest::addColumn<QList<int>>("points");
        QTest::addColumn<QList<double>>("values");
        QTest::newRow("no sections")
                << Sections() << QList<int>{0, 16, 32} << QList<double>{0.5, 0.5, 0.5};
        QTest::newRow("peaking 1 kHz +6 dB Q 1")
                << bandSection(1000.0, 6.0, 1.0, 0) << QList<int>{0, 17, 18, 32}
                << QList<double>{0.5, 0.659, 0.660, 0.5};
        QTest::newRow("high-pass 100 Hz type 1")
                << cornerSections(100.0, 1, true) << QList<int>{0, 3, 10, 20}
                << QList<double>{0.0, 0.197, 0.495, 0.5};
    }

    void thumbnailPoints()
    {
        QFETCH(Sections, sections);
        QFETCH(QList<int>, points);
        QFETCH(QList<double>, values);
        const QList<float> thumbnail = thumbnailOf(sections);
        QCOMPARE(thumbnail.size(), 33);
        for (int n = 0; n < points.size(); ++n) {
            QVERIFY2(std::abs(thumbnail[points[n]] - values[n]) < 0.003,
                     qPrintable(QString("point %1: %2").arg(points[n]).arg(thumbnail[points[n]])));
        }
    }

    void outOfRangeValuesAddNoSection()
    {
        QVERIFY(bandSection(48000.0, 6.0, 1.0, 0).isEmpty());
        QVERIFY(bandSection(0.0, 6.0, 1.0, 0).isEmpty());
        QVERIFY(bandSection(1000.0, 6.0, 1.0, 15).isEmpty());
        QVERIFY(bandSection(1000.0, NAN, 1.0, 0).isEmpty());
        QVERIFY(bandSection(1000.0, 1e5, 1.0, 0).isEmpty()); // beyond any double
        QVERIFY(cornerSections(50000.0, 1, false).isEmpty());
        QVERIFY(cornerSections(100.0, 16, true).isEmpty());
        // A Q of 0 or less reads as 0.707.
        const QList<float> usual = thumbnailOf(bandSection(1000.0, 6.0, 0.707, 0));
        QCOMPARE(thumbnailOf(bandSection(1000.0, 6.0, 0.0, 0)), usual);
        QCOMPARE(thumbnailOf(bandSection(1000.0, 6.0, -2.0, 0)), usual);
    }

    // Whatever a device reports, every strip's curve stays a number within 0..1.
    void curvesStayFiniteOnHostileValues()
    {
        const QList<QJsonValue> hostile{0,      -1,    1e-320, 47999.9, 48000,        96000,  1e308,
                                        -1e308, "nan", "inf",  true,    QJsonValue(), "1e400"};
        QJsonObject cache;
        for (int b = 0; b < 15; ++b) {
            const int k = 140 + b;
            cache.insert(QString("PEQfreq%1").arg(k), b % 2 ? QJsonValue(1000.0) : hostile[b % 13]);
            cache.insert(QString("PEQgain%1").arg(k), hostile[(b + 5) % 13]);
            cache.insert(QString("PEQq_value%1").arg(k), hostile[(b + 1) % 13]);
            cache.insert(QString("PEQtype%1").arg(k), b);
            cache.insert(QString("PEQbps%1").arg(k), 0);
        }
        cache.insert("HLPFbps4", 0);
        cache.insert("HLPFfreq4", 1e308);
        cache.insert("HLPFbps16", 0);
        cache.insert("HLPFfreq16", -3);
        ProcessorClient client;
        client.replaceCache(cache);
        const QVariantList peq = client.outputs()[0].toMap()["peq"].toList();
        QCOMPARE(peq.size(), 33);
        for (const QVariant &point : peq)
            QVERIFY(allFiniteWithin({point.toFloat()}, 0.0f, 1.0f));
        for (const double q : {0.0, 1e-300, -1.0})
            QVERIFY(allFiniteWithin(responseOnGrid(bandSection(1000.0, 1e4, q, 0)), -1e5f, 1e5f));
    }

    void cornerNamesToTypes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("6 dB/oct Butterworth") << "butter6" << 0;
        QTest::newRow("capitals and blanks") << "  LR24 " << 13;
        QTest::newRow("Bessel 6") << "bessel6" << 6;
        QTest::newRow("30 sent as 36") << "butter30" << 4;
        QTest::newRow("Butterworth 36") << "butter36" << 4;
        QTest::newRow("Bessel 36") << "bessel36" << 10;
        QTest::newRow("Linkwitz-Riley 36") << "lr36" << 14;
        QTest::newRow("Linkwitz-Riley 48") << "lr48" << 15;
        QTest::newRow("no 6 dB/oct Linkwitz-Riley") << "lr6" << -1;
        QTest::newRow("no 42") << "butter42" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void cornerNamesToTypes()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(ProcessorClient::filterTypeCode(name), code);
    }
};

SNT_TEST_MAIN(EqCurveTest)
#include "EqCurveTest.moc"
