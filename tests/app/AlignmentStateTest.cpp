#include "app/AlignmentDiagnostics.h"
#include "app/FillAlignment.h"
#include "app/SubwooferAlignment.h"
#include "app/SubwooferCrossover.h"
#include "app/SubwooferViews.h"
#include "app/store/ProjectStore.h"
#include "eq/CurvePreparation.h"
#include "files/DataFolder.h"
#include "tests/app/AlignmentFiles.h"
#include "tests/eq/SyntheticCurves.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>

#include <cmath>

namespace synthetic = snt::eq::synthetic;

using alignmenttest::fileLines;
using alignmenttest::readPack;

namespace {

// A main system and a subwoofer crossing at 90 Hz, designed at the default lift.
SubwooferCrossover designedPair()
{
    const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, -6.0, 0.0, false);
    SubwooferCrossover c;
    c.main.freq = p.freq;
    c.main.rawDb = p.mainDb;
    c.main.db = p.mainDb;
    c.sub.freq = p.freq;
    c.sub.rawDb = synthetic::broadbandSubDb(p.freq, -10.0);
    c.sub.db = c.sub.rawDb;
    c.measured = 2;
    c.design(false);
    return c;
}

QList<float> magnitudes(const QList<float> &db)
{
    QList<float> m;
    for (const float v : db)
        m.append(float(std::pow(10.0, v / 20.0)));
    return m;
}

qsizetype nearestGridPoint(double f)
{
    const QList<float> &grid = snt::eq::standardGrid();
    return std::min_element(grid.cbegin(), grid.cend(),
                            [f](float x, float y) { return std::abs(x - f) < std::abs(y - f); })
           - grid.cbegin();
}

} // namespace

// The alignment workflows' state without a bridge: pulses at known times, a crossover pair of
// analytic Linkwitz-Riley curves with known delay and polarity, the edit rules against the
// filter maths, the saved pack read back by an independent reader, and the diagnostics files.
class AlignmentStateTest : public QObject
{
    Q_OBJECT
private slots:
    // The pulse's time: the largest amplitude, the first of equal ones, NaN read as 0; no
    // pulse without an amplitude above 0 or with lists of different lengths. A capture without
    // a pulse changes nothing.
    void pulsePeak_data()
    {
        QTest::addColumn<QList<float>>("amplitude");
        QTest::addColumn<double>("peakMs");
        const float nan = float(qQNaN());
        QTest::newRow("largest") << QList<float>{0.5f, 0.25f, 2.0f, 1.0f} << 3.0;
        QTest::newRow("first of equal") << QList<float>{0.5f, 2.0f, 2.0f, 1.0f} << 2.0;
        QTest::newRow("NaN as 0") << QList<float>{0.5f, nan, 0.25f, nan} << 1.0;
        QTest::newRow("all 0") << QList<float>{0.0f, 0.0f, 0.0f, 0.0f} << FillAlignment::noPeak;
        QTest::newRow("all NaN") << QList<float>{nan, nan, nan, nan} << FillAlignment::noPeak;
        QTest::newRow("too short") << QList<float>{1.0f, 2.0f, 3.0f} << FillAlignment::noPeak;
    }

    void pulsePeak()
    {
        QFETCH(QList<float>, amplitude);
        QFETCH(double, peakMs);
        const QList<float> timeMs{1.0f, 2.0f, 3.0f, 4.0f};
        QCOMPARE(FillAlignment::impulsePeak(timeMs, amplitude), peakMs);
        FillAlignment fill;
        QCOMPARE(fill.capture(FillAlignment::Pulse::Main, timeMs, amplitude),
                 peakMs != FillAlignment::noPeak);
        QCOMPARE(fill.mainPulse().isEmpty(), peakMs == FillAlignment::noPeak);
    }

    // Samples exactly 2.5 ms either side of the peak fall into the first and last bin; bins
    // are 5/64 ms wide, labelled at their centres, and scaled to the largest amplitude.
    void pulseViewBins()
    {
        const QVariantList view
                = FillAlignment::impulseView({10.5f, 13.0f, 15.5f}, {1.0f, 4.0f, 2.0f});
        QCOMPARE(view.size(), 128);
        QCOMPARE(view[0].toDouble(), 0.5 * 0.078125 - 2.5);
        QCOMPARE(view[1].toDouble(), 0.25); // 2.5 ms before
        QCOMPARE(view[2 * 32 + 1].toDouble(), 1.0); // the peak
        QCOMPARE(view[2 * 63 + 1].toDouble(), 0.5); // 2.5 ms after
        QCOMPARE(view[2 * 63].toDouble(), 63.5 * 0.078125 - 2.5);
        QVERIFY(FillAlignment::impulseView({}, {}).isEmpty());
    }

    // The edit rules, each checked on the design and on the processed curve it recomputes: a
    // band's centre gain shows in the EQ response at its frequency.
    void crossoverEdits()
    {
        SubwooferCrossover c = designedPair();
        QVERIFY2(c.hasDesign(), qPrintable(c.result.why));
        while (c.result.subEqBands.size() < SubwooferCrossover::maxEqBands)
            QVERIFY(c.addEqBand().isEmpty());
        QCOMPARE(c.addEqBand(), QStringLiteral("EQ 最多 6 段"));
        const int last = SubwooferCrossover::maxEqBands - 1;

        QVERIFY(c.updateEq(last, 500.0, 0.1, 30.0)); // all out of range: unchanged
        QCOMPARE(c.result.subEqBands[last], (snt::eq::CrossoverBand{80.0, 0.0, 1.0, true}));
        QVERIFY(c.updateEq(last, 63.37, 1.234, 6.04));
        QCOMPARE(c.result.subEqBands[last], (snt::eq::CrossoverBand{63.4, 6.0, 1.23, true}));
        QVERIFY(!c.updateEq(last + 1, 60.0, 1.0, 1.0));
        const qsizetype at = nearestGridPoint(63.4);
        const QList<float> &grid = snt::eq::standardGrid();
        const double centre = snt::eq::peakingGainDb(grid[at], 63.4, 6.0, 1.23);
        QVERIFY(std::abs(c.result.subEq[at] - centre) < 0.05);
        QVERIFY(c.setEqEnabled(last, false));
        QVERIFY(std::abs(c.result.subEq[at]) < 0.05);

        // A Linkwitz-Riley low-pass of order 4 is a Butterworth of order 2 squared.
        QVERIFY(c.updateCorner(QStringLiteral("lpf"), 120.0, 24));
        const qsizetype near = nearestGridPoint(120.0);
        QVERIFY(std::abs(c.result.subAfter[near] - c.result.subRaw[near] - c.result.subGainDb
                         - 2.0 * synthetic::butterworthDb(grid[near], 120.0, 2, false))
                < 0.05);

        SubwooferCrossover none;
        QCOMPARE(none.addEqBand(), QStringLiteral("还没有分频结果"));
        QVERIFY(!none.updateCorner(QStringLiteral("lpf"), 100.0, 24));
        QVERIFY(!none.updateCornerType(QStringLiteral("lpf"), QStringLiteral("BW")));
        QVERIFY(!none.setLift(3) && none.lift == 6);
        QVERIFY(!none.setLift(25) && none.lift == 20);
    }

    // Corner edits on the design's Linkwitz-Riley low-pass and Butterworth high-pass: a
    // frequency and slope (a frequency that is not finite is ignored), then a kind (empty: none).
    void cornerRules_data()
    {
        QTest::addColumn<QString>("side");
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("slopeDb");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("storedKind");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("storedHz"); // NaN: as designed
        const double nan = qQNaN();
        QTest::newRow("LR order raised") << "lpf" << 120.0 << 18 << ""
                                         << "LR" << 4 << 120.0;
        QTest::newRow("frequency clamped") << "hpf" << 5.0 << 24 << ""
                                           << "BW" << 4 << 10.0;
        QTest::newRow("off keeps the frequency") << "hpf" << 5.0 << 0 << ""
                                                 << "BW" << 0 << 5.0;
        QTest::newRow("not a number ignored") << "hpf" << nan << 24 << ""
                                              << "BW" << 8 << nan;
        QTest::newRow("infinity ignored") << "lpf" << qInf() << 24 << ""
                                          << "LR" << 4 << nan;
        QTest::newRow("Bessel in lower case") << "hpf" << nan << 0 << "bs"
                                              << "BS" << 8 << nan;
        QTest::newRow("unknown kind is BW") << "lpf" << nan << 0 << "Bessel"
                                            << "BW" << 4 << nan;
        QTest::newRow("BW keeps an odd order") << "hpf" << 90.0 << 18 << ""
                                               << "BW" << 3 << 90.0;
        QTest::newRow("LR raises it") << "hpf" << 90.0 << 18 << "lr"
                                      << "LR" << 4 << 90.0;
    }

    void cornerRules()
    {
        QFETCH(QString, side);
        QFETCH(double, hz);
        QFETCH(int, slopeDb);
        QFETCH(QString, kind);
        QFETCH(QString, storedKind);
        QFETCH(int, order);
        QFETCH(double, storedHz);
        SubwooferCrossover c = designedPair();
        const bool low = side == "lpf";
        const double designedHz = low ? c.result.lowPassHz : c.result.subHighPassHz;
        QCOMPARE(c.updateCorner(side, hz, slopeDb), std::isfinite(hz));
        if (!kind.isEmpty())
            QVERIFY(c.updateCornerType(side, kind));
        QCOMPARE(low ? c.result.lowPassKind : c.result.subHighPassKind, storedKind);
        QCOMPARE(low ? c.result.lowPassOrder : c.result.subHighPassOrder, order);
        QCOMPARE(low ? c.result.lowPassHz : c.result.subHighPassHz,
                 std::isnan(storedHz) ? designedHz : storedHz);
        QVERIFY(!c.updateCornerType(side, storedKind.toLower())); // the same kind: no change
    }

    // Grid curves leave out what lies above 20.5 kHz, below −30 dB or is not finite; the target
    // before a design is the lift table of 15 dB.
    void crossoverViews()
    {
        SubwooferCrossover c;
        QVERIFY(subwoofer::beforeCurve(c).isEmpty());
        const QVariantList target = subwoofer::targetCurve(c);
        QCOMPARE(target.first().toList()[0].toDouble(), double(snt::eq::standardGrid().first()));
        // 22.5 dB at 20.5 Hz, 20.5 dB at 25 Hz, linear in log frequency.
        const double f0 = snt::eq::standardGrid().first();
        QVERIFY(std::abs(target.first().toList()[1].toDouble()
                         - (22.5 - 2.0 * std::log(f0 / 20.5) / std::log(25.0 / 20.5)))
                < 1e-4);
        for (const QVariant &point : target)
            QVERIFY(point.toList()[0].toDouble() <= 20500.0);

        c = designedPair();
        for (const QVariantList &curve :
             {subwoofer::beforeCurve(c), subwoofer::rawCurve(c), subwoofer::processedCurve(c),
              subwoofer::summedCurve(c)}) {
            QVERIFY(!curve.isEmpty());
            for (const QVariant &point : curve) {
                const QVariantList pair = point.toList();
                QVERIFY(pair[0].toDouble() <= 20500.0);
                QVERIFY(std::isfinite(pair[1].toDouble()) && pair[1].toDouble() >= -30.0);
            }
        }
        c.addEqBand();
        c.setEqEnabled(int(c.result.subEqBands.size()) - 1, false);
        const QVariantMap info = subwoofer::info(c);
        const QStringList keys{"ok",         "why",     "lowFc",    "lowKind",  "lowOrder",
                               "lpKind",     "lpOrder", "lpFc",     "gainDb",   "rmsDb",
                               "aligned",    "delayMs", "invert",   "winLo",    "winHi",
                               "crossLo",    "crossHi", "mainPack", "mainName", "mainProject",
                               "mainLoaded", "eq"};
        QCOMPARE(QSet<QString>(info.keyBegin(), info.keyEnd()),
                 QSet<QString>(keys.cbegin(), keys.cend()));
        QCOMPARE(info.value("eq").toList().size(), c.result.subEqBands.size());
        QCOMPARE(info.value("lpFc").toDouble(), c.result.lowPassHz);
        QCOMPARE(info.value("crossHi").toDouble(), c.result.windowHighHz);
        QCOMPARE(subwoofer::eqBands(c).last().toMap().value("enabled").toBool(), false);
    }

    // A main system and a subwoofer of analytic Linkwitz-Riley curves, the subwoofer 1.4 ms
    // late and inverted: the captures' wrapped phases come back unwrapped, and the finder says
    // to delay the main by 1.4 ms and to invert the subwoofer.
    void alignmentOfKnownDelayAndPolarity()
    {
        const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, -6.0, 1.4, true);
        SubwooferCrossover c = designedPair();
        SubwooferAlignment a;
        QVERIFY(!a.takeCapture(0, p.freq.mid(0, 19), p.mainDb, p.coherence, p.mainPhase, 0.0));
        QVERIFY(!a.takeCapture(0, p.freq, p.mainDb, p.coherence, p.mainPhase.mid(1), 0.0));
        QCOMPARE(a.stage, int(SubwooferAlignment::MeasureMain));
        QVERIFY(a.takeCapture(0, p.freq, magnitudes(p.mainDb), p.coherence, p.mainPhase, 3.0));
        QVERIFY(a.takeCapture(1, p.freq, magnitudes(p.subDb), p.coherence, p.subPhase, 4.4));
        QCOMPARE(a.stage, int(SubwooferAlignment::Done));
        // Unwrapped from the first bin, the phase is the continuous one of the truth.
        for (const qsizetype k : {100, 3000, 20000}) {
            const double f = p.freq[k];
            const double truth
                    = synthetic::linkwitzRiley4PhaseDeg(f, 90.0) - 0.36 * f * 1.4 + 180.0;
            QVERIFY2(
                    std::abs(a.sub.phase[k] - truth) < 0.5,
                    qPrintable(
                            QString("%1 Hz: %2 against %3").arg(f).arg(a.sub.phase[k]).arg(truth)));
        }
        QVERIFY(a.coupledCurve(c.result).freq.isEmpty());
        a.align(c.result);
        QVERIFY2(a.aligned, qPrintable(c.result.why));
        QCOMPARE(a.delayMs, -1.4);
        QVERIFY(a.invert);

        // The coupled curve: the two levels summed in phase, over the subwoofer's span.
        const math::Curve coupled = a.coupledCurve(c.result);
        QVERIFY(!coupled.freq.isEmpty());
        QVERIFY(coupled.freq.first() >= p.freq.first() && coupled.freq.last() <= p.freq.last());
        const qsizetype at = coupled.freq.size() / 4;
        const float f = coupled.freq[at];
        const qsizetype bin = std::lower_bound(p.freq.cbegin(), p.freq.cend(), f) - p.freq.cbegin();
        const double sum = 20.0
                           * std::log10(std::pow(10.0, a.main.db[bin] / 20.0)
                                        + std::pow(10.0, a.sub.db[bin] / 20.0));
        QVERIFY2(std::abs(coupled.values[at] - sum) < 0.5,
                 qPrintable(
                         QString("%1 Hz: %2 against %3").arg(f).arg(coupled.values[at]).arg(sum)));
    }

    // Saved as "超低对齐 01" with both captures in dB, read back by an independent reader; a
    // second save replaces the pack and its files; a capture that cannot be written leaves the
    // list, the files and the remembered name as they were.
    void savedPackReadsBack()
    {
        const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, -6.0, 1.4, true);
        const QList<float> freq = p.freq.mid(0, 8192);
        SubwooferCrossover c = designedPair();
        SubwooferAlignment a;
        QVERIFY(!a.canSave(c.result));
        a.takeCapture(0, freq, magnitudes(p.mainDb.mid(0, 8192)), p.coherence.mid(0, 8192),
                      p.mainPhase.mid(0, 8192), 3.0);
        a.takeCapture(1, freq, magnitudes(p.subDb.mid(0, 8192)), p.coherence.mid(0, 8192),
                      p.subPhase.mid(0, 8192), 4.4);
        a.align(c.result);
        QVERIFY(a.canSave(c.result));

        ProjectStore store;
        store.loadCurvePacks();
        QVERIFY(a.save(store, c.result, 15));
        QCOMPARE(a.lastPackName, QStringLiteral("超低对齐 01"));
        QVariantMap read = readPack(a.lastPackName);
        const QVariantMap pack = read.value("pack").toMap();
        QCOMPARE(pack.value("count").toInt(), 3);
        QCOMPARE(pack.value("delayMs2").toDouble(), 4.4);
        const QVariantMap subAlign = pack.value("subAlign").toMap();
        QCOMPARE(subAlign.value("delayMs").toDouble(), -1.4);
        QCOMPARE(subAlign.value("invert").toBool(), true);
        QCOMPARE(subAlign.value("lift").toInt(), 15);
        QCOMPARE(subAlign.value("lpKind").toString(), c.result.lowPassKind);
        QCOMPARE(subAlign.value("crossLo").toDouble(), c.result.windowLowHz);
        const QVariantList level2 = read.value("second").toMap().value("level").toList();
        QCOMPARE(level2.size(), 8192);
        QCOMPARE(level2[100].toFloat(), a.sub.rawDb[100]); // dB, not linear
        QCOMPARE(read.value("first").toMap().value("phase").toList()[200].toFloat(),
                 a.main.phase[200]);
        const QStringList firstFiles = read.value("rawFiles").toStringList();
        QCOMPARE(firstFiles.size(), 2);

        QVERIFY(a.save(store, c.result, 20)); // the same flow again: replaced in place
        QCOMPARE(store.curvePacks.size(), 1);
        read = readPack(QStringLiteral("超低对齐 01"));
        QCOMPARE(read.value("pack").toMap().value("subAlign").toMap().value("lift").toInt(), 20);
        const QStringList secondFiles = read.value("rawFiles").toStringList();
        QCOMPARE(secondFiles.size(), 2);
        for (const QString &name : secondFiles)
            QVERIFY(!firstFiles.contains(name));

        // The capture folder replaced by a file: no capture can be written.
        const QString raw = rawDir();
        QVERIFY(QDir(raw).removeRecursively());
        QFile blocker(raw);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QList<CurvePack> before = store.curvePacks;
        a.lastPackName.clear();
        QVERIFY(!a.save(store, c.result, 15));
        QCOMPARE(store.curvePacks, before);
        QVERIFY(a.lastPackName.isEmpty());
        QVERIFY(QFile::remove(raw));
    }

    // Rows for main points from 15 to 520 Hz, each with the subwoofer at the first frequency not
    // below it (the last one past its end, 0 without one); numbers as a text stream writes them.
    void diagnosticsFiles()
    {
        SubwooferCrossover c;
        c.lift = 15;
        c.main.freq = {10.0f, 15.0f, 100.0f, 520.0f, 600.0f};
        c.main.db = {1.0f, -3.5f, 2.25f, 0.125f, 9.0f};
        c.sub.freq = {20.0f, 50.0f, 200.0f};
        c.sub.db = {-1.0f, 8.6f, 1234567.0f};
        c.result.why = QStringLiteral("没有可用的低通组合");
        c.result.lowPassHz = 80.0;
        diagnostics::writeCrossover(c);
        QCOMPARE(fileLines(diagnostics::crossoverFile()),
                 (QStringList{"ok=0 why=没有可用的低通组合", "crossLo=0 crossHi=0 winLo=0 winHi=0",
                              "lpKind=LR lpOrder=4 lpFc=80 gain=0 lift=15", "mainPts=5 subPts=3",
                              "f\tmainDb\tsubDb", "15\t-3.5\t-1", "100\t2.25\t1.23457e+06",
                              "520\t0.125\t1.23457e+06"}));

        SubwooferAlignment a;
        a.main.freq = {15.0f, 30.0f};
        a.main.db = {1.0f};
        a.main.phase = {-10.0f, -20.0f};
        a.main.coherence = {0.5f, 0.75f};
        a.mainDelayMs = 8.6;
        a.aligned = true;
        snt::eq::CrossoverResult r;
        r.ok = true;
        r.alignInvert = true;
        r.alignDelayMs = -1.4;
        r.windowLowHz = 60.5;
        r.windowHighHz = 120.0;
        diagnostics::writeAlignment(r, a);
        QCOMPARE(fileLines(diagnostics::alignmentFile()),
                 (QStringList{"ok=1 aligned=1 cross=60.5-120 win=0-0 delay=-1.4 invert=1",
                              "why=", "mainPoints=2 subPoints=0 mainDelay=8.6 subDelay=0",
                              "f\tmainDb\tmainPhase\tmainCoh\tsubDb\tsubPhase\tsubCoh",
                              "15\t1\t-10\t0.5\t0\t0\t0", "30\t0\t-20\t0.75\t0\t0\t0"}));
        QVERIFY(diagnostics::crossoverFile().startsWith(documentsRoot() + "/临时/"));
    }
};

SNT_TEST_MAIN(AlignmentStateTest)
#include "AlignmentStateTest.moc"
