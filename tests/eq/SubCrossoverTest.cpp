#include "eq/SubCrossover.h"
#include "SyntheticCurves.h"
#include "eq/CurvePreparation.h"
#include "eq/SubAlignment.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <complex>
#include <random>

using namespace snt::eq;
using Cplx = std::complex<double>;

namespace {

const QString subNotCovering = QStringLiteral("超低这条曲线没覆盖 80 Hz 附近，没法定分频");
const QString mainIncomplete = QStringLiteral("主扩这条曲线不完整，没法定分频");

double sumInPhaseDb(double a, double b)
{
    return 20.0 * std::log10(std::pow(10.0, a / 20.0) + std::pow(10.0, b / 20.0));
}

qsizetype gridIndex(double hz)
{
    const QList<float> &grid = standardGrid();
    qsizetype best = 0;
    for (qsizetype i = 1; i < grid.size(); ++i) {
        if (std::abs(grid[i] - hz) < std::abs(grid[best] - hz))
            best = i;
    }
    return best;
}

// A main loudspeaker rolling off below 100 Hz and a broadband subwoofer 10 dB below it.
struct Design
{
    synthetic::SubwooferPair pair = synthetic::subwooferPair(100.0, 0.0, 0.0, false);
    QList<float> subDb = synthetic::broadbandSubDb(pair.freq, -10.0);
};

// A design that leaves only the alignment to do: the crossover window set by hand.
CrossoverResult designedWindow(double lowHz, double highHz)
{
    CrossoverResult r;
    r.ok = true;
    r.windowLowHz = lowHz;
    r.windowHighHz = highHz;
    return r;
}

CrossoverResult aligned(const synthetic::SubwooferPair &p,
                        CrossoverResult r = designedWindow(50, 140))
{
    alignSubToMain(r, p.freq, p.mainDb, p.mainPhase, p.coherence, p.freq, p.subPhase, p.coherence);
    return r;
}

} // namespace

// The subwoofer crossover designer and the delay/polarity finder.
class SubCrossoverTest : public QObject
{
    Q_OBJECT

private slots:
    // Corner levels against the closed forms |H|² = 1/(1 + r^2n), Linkwitz-Riley being a
    // Butterworth of half the order squared.
    void cornerLevels_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("fc");
        QTest::addColumn<double>("f");
        QTest::addColumn<bool>("highPass");
        QTest::addColumn<double>("expected");
        const double lr = -20.0 * std::log10(2.0);
        QTest::newRow("LR4 at fc") << "LR" << 4 << 80.0 << 80.0 << false << lr;
        QTest::newRow("BW8 at fc") << "BW" << 8 << 40.0 << 40.0 << true << -10.0 * std::log10(2.0);
        QTest::newRow("LR2 octave up")
                << "LR" << 2 << 100.0 << 200.0 << false << -20.0 * std::log10(5.0);
        QTest::newRow("BW4 octave down")
                << "BW" << 4 << 50.0 << 25.0 << true << -10.0 * std::log10(257.0);
        QTest::newRow("LR1 is LR2")
                << "LR" << 1 << 100.0 << 200.0 << false << -20.0 * std::log10(5.0);
        QTest::newRow("BS reads as BW")
                << "BS" << 4 << 50.0 << 25.0 << true << -10.0 * std::log10(257.0);
        QTest::newRow("LR8 two octaves up") << "LR" << 8 << 60.0 << 240.0 << false
                                            << -20.0 * std::log10(1.0 + std::pow(4.0, 8));
        QTest::newRow("no order") << "BW" << 0 << 50.0 << 25.0 << true << 0.0;
        QTest::newRow("no corner") << "LR" << 4 << 0.0 << 25.0 << true << 0.0;
        QTest::newRow("no frequency") << "LR" << 4 << 50.0 << 0.0 << true << 0.0;
    }

    void cornerLevels()
    {
        QFETCH(QString, kind);
        QFETCH(int, order);
        QFETCH(double, fc);
        QFETCH(double, f);
        QFETCH(bool, highPass);
        QFETCH(double, expected);
        QVERIFY(std::abs(crossoverGainDb(kind, order, fc, f, highPass) - expected) < 1e-3);
    }

    void liftTargets()
    {
        QCOMPARE(subLiftDb(40.0, 6), 7.5);
        QCOMPARE(subLiftDb(40.0, 15), 15.0);
        QCOMPARE(subLiftDb(40.0, 20), 20.0);
        QCOMPARE(subLiftDb(40.0, 7), 10.0);
        QCOMPARE(subLiftDb(10.0, 20), 29.0);
        QCOMPARE(subLiftDb(1000.0, 6), 0.0);
        QCOMPARE(subLiftDb(5000.0, 7), 0.0);
        // Straight in log frequency: half way between 40 and 50 Hz is their geometric mean.
        QVERIFY(std::abs(subLiftDb(std::sqrt(40.0 * 50.0), 6) - 6.7) < 1e-9);
    }

    // The main rolls off with a fourth-order Linkwitz-Riley high-pass at 100 Hz; the subwoofer
    // must fill in below it up to the lift target.
    void designsACrossover()
    {
        const Design d;
        const CrossoverResult r
                = designSubCrossover(d.pair.freq, d.pair.mainDb, d.pair.freq, d.subDb, 6);
        QVERIFY2(r.ok, qPrintable(r.why));
        QVERIFY(r.why.isEmpty() && r.notes.isEmpty());
        QVERIFY(!r.subHighPassFallback && r.subHighPassHz >= 25.0 && r.subHighPassHz <= 30.0);
        // Any of the low-pass types, on the ladder from 60 to 120 Hz.
        QVERIFY(QList<int>({2, 4, 8}).contains(r.lowPassOrder));
        QVERIFY2(r.lowPassHz >= 60.0 && r.lowPassHz <= 120.0,
                 qPrintable(QString::number(r.lowPassHz)));
        // At 40 Hz the main is 32 dB down, so the subwoofer alone must reach the 7.5 dB target:
        // its gain lifts its -10 dB there by 17.5 dB, give or take the filters' losses.
        QVERIFY2(std::abs(r.subGainDb - 17.5) < 1.5, qPrintable(QString::number(r.subGainDb)));
        const QList<float> &grid = standardGrid();
        for (const QList<float> *list :
             {&r.mainRel, &r.subRaw, &r.subAfter, &r.liftTarget, &r.combined, &r.subEq})
            QCOMPARE(list->size(), grid.size());
        for (qsizetype i = 0; i < grid.size(); ++i) {
            QCOMPARE(r.liftTarget[i], float(subLiftDb(grid[i], 6)));
            QVERIFY(std::abs(r.combined[i] - sumInPhaseDb(r.mainRel[i], r.subAfter[i] + r.subEq[i]))
                    < 1e-3);
            if (grid[i] >= 50.0f && grid[i] <= 300.0f) // the range the fit is judged on
                QVERIFY2(std::abs(r.combined[i] - r.liftTarget[i]) < 2.0,
                         qPrintable(QString::number(grid[i])));
        }
        QVERIFY(r.fitErrorDb < 1.0 && std::abs(r.maxDeviationDb) < 2.0);
        QVERIFY(r.windowHighHz > r.windowLowHz && r.windowLowHz >= 20.0 && r.windowHighHz <= 500.0);
        QVERIFY(r.fallbackHighHz > r.fallbackLowHz);
    }

    void designRefusals_data()
    {
        QTest::addColumn<QList<float>>("mainFreq");
        QTest::addColumn<QList<float>>("mainDb");
        QTest::addColumn<QList<float>>("subFreq");
        QTest::addColumn<QList<float>>("subDb");
        QTest::addColumn<QString>("why");
        const Design d;
        const QList<float> &f = d.pair.freq;
        QList<float> shortSub;
        for (const float x : f) {
            if (x >= 20.0f && x <= 90.0f)
                shortSub.append(x);
        }
        QTest::newRow("subwoofer ends below 100 Hz")
                << f << d.pair.mainDb << shortSub << synthetic::broadbandSubDb(shortSub, -10.0)
                << subNotCovering;
        const QList<float> fiveFreq{20, 50, 80, 120, 200};
        const QList<float> fiveDb(5, 0.0f);
        // Too short to resample: without the refusal it became -120 dB and "needed" +120 dB.
        QTest::newRow("subwoofer of five points")
                << f << d.pair.mainDb << fiveFreq << fiveDb << subNotCovering;
        QTest::newRow("subwoofer levels missing")
                << f << d.pair.mainDb << f << d.subDb.mid(1) << subNotCovering;
        QTest::newRow("main of five points")
                << fiveFreq << fiveDb << f << d.subDb << mainIncomplete;
        QTest::newRow("main levels missing")
                << f << d.pair.mainDb.mid(1) << f << d.subDb << mainIncomplete;
        // Mains 3 dB above, and 1 dB below, the target up to 500 Hz, at 0 dB from there on.
        QList<float> loudMain;
        QList<float> nearMain;
        for (const float x : f) {
            loudMain.append(x <= 500.0f ? float(subLiftDb(x, 6) + 3.0) : 0.0f);
            nearMain.append(x <= 500.0f ? float(subLiftDb(x, 6) - 1.0) : 0.0f);
        }
        QTest::newRow("main above the target")
                << f << loudMain << f << d.subDb
                << QStringLiteral("主扩自己就在目标之上，这条目标不需要超低");
        QTest::newRow("main on the target")
                << f << nearMain << f << d.subDb
                << QStringLiteral("主扩自己已经贴到目标，超低没有可补的");
    }

    void designRefusals()
    {
        QFETCH(QList<float>, mainFreq);
        QFETCH(QList<float>, mainDb);
        QFETCH(QList<float>, subFreq);
        QFETCH(QList<float>, subDb);
        QFETCH(QString, why);
        const CrossoverResult r = designSubCrossover(mainFreq, mainDb, subFreq, subDb, 6);
        QVERIFY(!r.ok);
        QCOMPARE(r.why, why);
        QCOMPARE(r.subGainDb, 0.0);
    }

    // A room mode lifting the subwoofer 8 dB at 60 Hz gets a cut there, which brings the sum
    // nearer the target than the design without it.
    void cutsARoomMode()
    {
        const Design d;
        QList<float> boomy = d.subDb;
        for (qsizetype i = 0; i < boomy.size(); ++i) {
            const Cplx s(0.0, d.pair.freq[i] / 60.0);
            const double a = std::pow(10.0, 8.0 / 40.0);
            boomy[i] += float(20.0
                              * std::log10(std::abs((s * s + s * (a / 3.0) + 1.0)
                                                    / (s * s + s / (a * 3.0) + 1.0))));
        }
        const CrossoverResult r
                = designSubCrossover(d.pair.freq, d.pair.mainDb, d.pair.freq, boomy, 6);
        QVERIFY2(r.ok, qPrintable(r.why));
        QVERIFY(!r.subEqBands.isEmpty() && r.subEqBands.size() <= 2);
        const CrossoverBand &cut = r.subEqBands.first();
        QVERIFY2(cut.gain < -1.0 && std::abs(std::log2(cut.hz / 60.0)) < 0.35,
                 qPrintable(QStringLiteral("%1 Hz %2 dB").arg(cut.hz).arg(cut.gain)));
        CrossoverResult withoutEq = r;
        withoutEq.subEqBands.clear();
        subResponse(withoutEq);
        const qsizetype at60 = gridIndex(60.0);
        QVERIFY(std::abs(r.combined[at60] - r.liftTarget[at60])
                < std::abs(withoutEq.combined[at60] - r.liftTarget[at60]));
    }

    // A subwoofer flat down to 20 Hz shows no low end: the high-pass falls back to 40 Hz.
    void highPassFallback()
    {
        const Design d;
        QList<float> flatSub;
        for (const float x : d.pair.freq)
            flatSub.append(float(-10.0 + synthetic::butterworthDb(x, 250.0, 2, false)));
        const CrossoverResult r
                = designSubCrossover(d.pair.freq, d.pair.mainDb, d.pair.freq, flatSub, 6);
        QVERIFY2(r.ok, qPrintable(r.why));
        QVERIFY(r.subHighPassFallback);
        QCOMPARE(r.subHighPassHz, 40.0);
        QCOMPARE(r.notes.value(0), QStringLiteral("超低低端认不出下限，先按 40 Hz 保守给"));
    }

    // After an edit the curves follow the corners, gain and bands from their closed forms.
    void recomputesAfterEdits()
    {
        CrossoverResult untouched;
        subResponse(untouched);
        QVERIFY(untouched.subAfter.isEmpty() && untouched.combined.isEmpty());

        const Design d;
        CrossoverResult r
                = designSubCrossover(d.pair.freq, d.pair.mainDb, d.pair.freq, d.subDb, 15);
        QVERIFY(r.ok);
        r.lowPassKind = QStringLiteral("BW");
        r.lowPassOrder = 2;
        r.lowPassHz = 90.0;
        r.subHighPassKind.clear();
        r.subHighPassOrder = 4;
        r.subGainDb = 12.0;
        r.subEqBands = {{63.0, -3.0, 1.2, true}, {125.0, -2.0, 1.0, false}};
        subResponse(r);
        const QList<float> &grid = standardGrid();
        for (const qsizetype i : {gridIndex(30), gridIndex(63), gridIndex(90), gridIndex(400)}) {
            const double g = grid[i];
            const double sub = r.subRaw[i] + synthetic::butterworthDb(g, r.subHighPassHz, 4, true)
                               + synthetic::butterworthDb(g, 90.0, 2, false) + 12.0;
            const Cplx s(0.0, g / 63.0);
            const double a = std::pow(10.0, -3.0 / 40.0);
            const double eq = 20.0
                              * std::log10(std::abs((s * s + s * (a / 1.2) + 1.0)
                                                    / (s * s + s / (a * 1.2) + 1.0)));
            QVERIFY(std::abs(r.subAfter[i] - sub) < 1e-3);
            QVERIFY(std::abs(r.subEq[i] - eq) < 1e-3);
            QVERIFY(std::abs(r.combined[i] - sumInPhaseDb(r.mainRel[i], sub + eq)) < 1e-3);
        }
    }

    // Delay and polarity of a subwoofer against a main it crosses with in phase (both fourth-order
    // Linkwitz-Riley at 90 Hz); "late" is how much later the subwoofer arrives.
    void findsDelayAndPolarity_data()
    {
        QTest::addColumn<double>("lateMs");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<double>("delayMs");
        QTest::newRow("in step") << 0.0 << false << 0.0;
        QTest::newRow("inverted") << 0.0 << true << 0.0;
        QTest::newRow("2 ms late") << 2.0 << false << -2.0;
        QTest::newRow("1.4 ms late, inverted") << 1.4 << true << -1.4;
        QTest::newRow("1.4 ms early") << -1.4 << false << 1.4;
    }

    void findsDelayAndPolarity()
    {
        QFETCH(double, lateMs);
        QFETCH(bool, inverted);
        QFETCH(double, delayMs);
        const CrossoverResult r = aligned(synthetic::subwooferPair(90.0, 0.0, lateMs, inverted));
        QVERIFY2(r.aligned, qPrintable(r.why));
        QCOMPARE(r.alignDelayMs, delayMs);
        QCOMPARE(r.alignInvert, inverted);
        QVERIFY(r.why.isEmpty());
    }

    // Summed as complex responses at the crossover, where each is 6 dB down: in phase they make
    // up the level (+6.02 dB), in opposition they cancel, a quarter turn apart they reach +3.01 dB.
    // Correcting the subwoofer by the alignment found always brings back the in-phase sum.
    void alignedPairAddsInPhase_data()
    {
        QTest::addColumn<double>("lateMs");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<double>("rawGainDb"); // of the sum over either alone, before aligning
        QTest::newRow("in phase") << 0.0 << false << 20.0 * std::log10(2.0);
        QTest::newRow("in opposition") << 0.0 << true << -std::numeric_limits<double>::infinity();
        QTest::newRow("quarter turn") << 1000.0 / (4.0 * 90.0) << false << 10.0 * std::log10(2.0);
    }

    void alignedPairAddsInPhase()
    {
        QFETCH(double, lateMs);
        QFETCH(bool, inverted);
        QFETCH(double, rawGainDb);
        const double fc = 90.0;
        const Cplx s(0.0, 1.0);
        const Cplx lr
                = 1.0 / ((s * s + std::sqrt(2.0) * s + 1.0) * (s * s + std::sqrt(2.0) * s + 1.0));
        const Cplx main = lr; // the high-pass equals the low-pass at the crossover
        const Cplx sub = lr * std::polar(inverted ? -1.0 : 1.0, -2.0 * M_PI * fc * lateMs / 1000.0);
        const double rawDb = 20.0 * std::log10(std::abs(main + sub) / std::abs(main));
        QVERIFY(std::isinf(rawGainDb) ? rawDb < -100.0 : std::abs(rawDb - rawGainDb) < 1e-6);

        const CrossoverResult r = aligned(synthetic::subwooferPair(fc, 0.0, lateMs, inverted));
        QVERIFY(r.aligned);
        const Cplx corrected = sub
                               * std::polar(r.alignInvert ? -1.0 : 1.0,
                                            -2.0 * M_PI * fc * r.alignDelayMs / 1000.0);
        QVERIFY(std::abs(20.0 * std::log10(std::abs(main + corrected) / std::abs(main))
                         - 20.0 * std::log10(2.0))
                < 0.05);
    }

    void alignmentRefusals()
    {
        const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, 0.0, 0.0, false);
        CrossoverResult undesigned;
        undesigned.why = QStringLiteral("没有可用的低通组合");
        QCOMPARE(aligned(p, undesigned).why, undesigned.why);
        QCOMPARE(aligned(p, CrossoverResult()).why,
                 QStringLiteral("分频结果还没算出来，先回结果页看原因"));

        CrossoverResult r = designedWindow(50, 140);
        alignSubToMain(r, p.freq.mid(0, 19), {}, p.mainPhase.mid(0, 19), {}, p.freq,
                       p.subPhase.mid(1), {});
        QCOMPARE(r.why,
                 QStringLiteral(
                         "这次抓到的点不够（主扩 19 点 / 超低 32767 点），相位也不完整，重测一次"));
        r = designedWindow(120.4, 60.2);
        r.fallbackLowHz = 120.4;
        r.fallbackHighHz = 60.2;
        QCOMPARE(aligned(p, r).why,
                 QStringLiteral("交叉区没定出来（120–60 Hz），先看结果页的分频结果"));
        // Four points in the window (66.65 to 68.85 Hz on these bins), whatever the coherence.
        QList<float> poor(p.freq.size(), 0.1f);
        r = designedWindow(66.5, 69.0);
        alignSubToMain(r, p.freq, p.mainDb, p.mainPhase, poor, p.freq, p.subPhase, poor);
        QCOMPARE(r.why, QStringLiteral("交叉区里相干性够的点太少，检查麦位和超低电平"));
        // Phases that agree on nothing.
        synthetic::SubwooferPair noise = p;
        std::mt19937 random(3);
        std::uniform_real_distribution<float> anyAngle(-180.0f, 180.0f);
        for (float &x : noise.subPhase)
            x = anyAngle(random);
        r = aligned(noise);
        QVERIFY(!r.aligned && r.why.startsWith(QStringLiteral("两条相位在交叉区对不上（误差 ")));
        // A failed alignment clears an earlier success and its message goes when one succeeds.
        r.aligned = true;
        r.alignDelayMs = 3.0;
        r = aligned(noise, r);
        QVERIFY(!r.aligned && r.alignDelayMs == 0.0);
        r = aligned(p, r);
        QVERIFY(r.aligned && r.why.isEmpty());
    }

    // Only points with good coherence on both sides are compared: poor points with a wrong phase
    // do not move the result while there are enough good ones.
    void alignmentTrustsCoherentPoints()
    {
        const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, 0.0, 1.4, true);
        QList<float> subPhase = p.subPhase;
        QList<float> subCoherence = p.coherence;
        std::mt19937 random(5);
        std::uniform_real_distribution<float> anyAngle(-180.0f, 180.0f);
        for (qsizetype i = 0; i < p.freq.size(); i += 2) {
            subPhase[i] = anyAngle(random);
            subCoherence[i] = 0.6f;
        }
        CrossoverResult r = designedWindow(50, 140);
        alignSubToMain(r, p.freq, p.mainDb, p.mainPhase, p.coherence, p.freq, subPhase,
                       subCoherence);
        QVERIFY(r.aligned && r.alignInvert);
        QCOMPARE(r.alignDelayMs, -1.4);
    }
};

SNT_TEST_MAIN(SubCrossoverTest)
#include "SubCrossoverTest.moc"
