#include "app/CurveFeeds.h"
#include "app/ChartPoints.h"
#include "app/LevelWindow.h"
#include "app/store/CurvePack.h"
#include "eq/DisplayCurve.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <limits>
#include <set>

using snt::eq::Measured;

namespace {

QList<float> logSpaced(int n, double lo, double hi)
{
    QList<float> f(n);
    for (int i = 0; i < n; ++i)
        f[i] = float(lo * std::pow(hi / lo, i / double(n - 1)));
    return f;
}

// A curve on the FFT grid of 16384 points at 48 kHz, 0 Hz included, with gain g (linear) and a
// gentle ripple, so band levels and averages have something to show.
Measured fftCurve(double gain, float coherence)
{
    Measured m;
    for (int k = 0; k <= 8192; ++k) {
        const double f = k * 48000.0 / 16384.0;
        m.freq.append(float(f));
        m.magnitude.append(float(gain * (1.0 + 0.3 * std::sin(std::log(f + 1.0)))));
        m.coherence.append(coherence);
        m.phase.append(float(-0.36 * f));
    }
    return m;
}

double db(double x)
{
    return 20.0 * std::log10(x);
}

// The level the window reports after feeding it `gaps` (measure peak − reference peak).
LevelWindow fed(const QList<double> &gaps)
{
    LevelWindow window;
    for (const double gap : gaps)
        window.add(50.0 + gap, 50.0);
    return window;
}

} // namespace

// The chart feeds' maths against hand-worked values and independent models: the point picking,
// the emission filter, the averages of captured points, the level window and the curves a saved
// result keeps.
class CurveFeedsTest : public QObject
{
    Q_OBJECT
private slots:
    void chartPointCounts_data()
    {
        QTest::addColumn<QList<float>>("freq");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("300 points: all") << logSpaced(300, 10, 24000) << 300 << 0 << 299;
        QList<float> scattered(1000);
        for (int i = 0; i < 1000; ++i)
            scattered[i] = float(20 + (i * 7919) % 1000 * 20);
        QTest::newRow("1000 unsorted: every 2nd and the last") << scattered << 501 << 0 << 999;
        QList<float> low = logSpaced(600, 1, 19.9);
        QTest::newRow("nothing at 20 Hz or above: all") << low << 600 << 0 << 599;
        QList<float> tail = logSpaced(600, 1, 19.9);
        tail.append(logSpaced(400, 20, 20000));
        QTest::newRow("400 from 20 Hz on: those") << tail << 400 << 600 << 999;
    }

    void chartPointCounts()
    {
        QFETCH(QList<float>, freq);
        QFETCH(int, count);
        QFETCH(int, first);
        QFETCH(int, last);
        const QList<int> picked = makeChartPoints(freq, freq.size(), 480);
        QCOMPARE(picked.size(), count);
        QCOMPARE(picked.first(), first);
        QCOMPARE(picked.last(), last);
    }

    // Each picked point is the nearest (in log frequency) to one of 480 evenly log-spaced targets
    // between the first point at or above 20 Hz and the last at or below 20 kHz, found here by a
    // plain search over every point.
    void longCurvesPickNearestLogSpacedPoints()
    {
        const QList<float> freq = logSpaced(2000, 10, 24000);
        const QList<int> picked = makeChartPoints(freq, freq.size(), 480);
        int s = 0;
        while (freq[s] < 20.0f)
            ++s;
        int e = freq.size();
        while (freq[e - 1] > 20000.0f)
            --e;
        std::vector<int> expected;
        const double lo = std::log(freq[s]), hi = std::log(freq[e - 1]);
        for (int k = 0; k < 480; ++k) {
            const double t = lo + k * (hi - lo) / 479.0;
            int best = s;
            for (int i = s; i < e; ++i) {
                if (std::abs(std::log(freq[i]) - t) < std::abs(std::log(freq[best]) - t))
                    best = i;
            }
            if (expected.empty() || expected.back() != best)
                expected.push_back(best);
        }
        QCOMPARE(picked, QList<int>(expected.begin(), expected.end()));
        QVERIFY(picked.size() <= 480);
        QVERIFY(std::set<int>(picked.begin(), picked.end()).size() == size_t(picked.size()));
    }

    void onlySendablePointsAreSent()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const QList<float> freq{100, 200, 300, 20000.005f, 20000.02f};
        const QList<float> values{1, nan, 3, 4, 5};
        QCOMPARE(flatPairs(freq, values, 480),
                 (QVariantList{100.0, 1.0, 300.0, 3.0, double(20000.005f), 4.0}));
        const QVariantList map = plotPoints(freq, values, 480);
        QCOMPARE(map.size(), 3);
        QCOMPARE(map[1].toMap().value("f").toDouble(), 300.0);
        QCOMPARE(map[1].toMap().value("d").toDouble(), 3.0);
        QVERIFY(flatPairs(freq, {}, 480).isEmpty());
    }

    void curveCenterIsTheUpperMedian()
    {
        QList<float> magnitude;
        for (const double level : {4.0, 1.0, 3.0, 2.0})
            magnitude.append(float(std::pow(10.0, level / 20.0)));
        magnitude.append(0.0f); // silent bins do not count
        QVERIFY(std::abs(measureCurveCenter(magnitude) - 3.0) < 1e-5);
        QCOMPARE(measureCurveCenter({0.0f, 1e-10f}), 0.0);
    }

    // Coherences 0.2, 0.9 and missing weigh the dB levels 0.2, 0.9 and 0.5; a line array's
    // coherence is their median 0.5, a single loudspeaker's their mean.
    void averageWeighsByCoherence_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<double>("coherence");
        QTest::newRow("line array") << int(Flow::LineArray) << 0.5;
        QTest::newRow("point source") << int(Flow::PointSource) << (0.2 + 0.9 + 0.5) / 3.0;
    }

    void averageWeighsByCoherence()
    {
        QFETCH(int, flow);
        QFETCH(double, coherence);
        const QList<float> freq = logSpaced(16, 100, 10000);
        QList<Measured> points;
        const double levels[] = {-6.0, 0.0, 3.0};
        for (int i = 0; i < 3; ++i) {
            Measured p;
            p.freq = freq;
            p.magnitude = QList<float>(16, float(std::pow(10.0, levels[i] / 20.0)));
            if (i < 2)
                p.coherence = QList<float>(16, i == 0 ? 0.2f : 0.9f);
            points.append(p);
        }
        const Measured average = averagePoints(points, Flow(flow));
        // A line array refers every point to its own band level first (equal shapes coincide),
        // and the average lies at the mean of those levels.
        const double expectedDb = Flow(flow) == Flow::LineArray
                                          ? (-6.0 + 0.0 + 3.0) / 3.0
                                          : (0.2 * -6.0 + 0.9 * 0.0 + 0.5 * 3.0) / 1.6;
        for (int k = 0; k < 16; ++k) {
            QVERIFY(std::abs(db(average.magnitude[k]) - expectedDb) < 1e-4);
            QVERIFY(std::abs(average.coherence[k] - coherence) < 1e-6);
        }
    }

    // Three line-array points that differ by gain only (−6, 0 and +6 dB) average to their common
    // shape at their mean level, the 0 dB one; the phase is the latest point's that fits the grid.
    void lineArrayPointsAverageToTheirShape()
    {
        QList<Measured> points{fftCurve(1.0, 1.0f), fftCurve(0.5, 0.8f), fftCurve(2.0, 0.6f)};
        points[2].phase.removeLast();
        const Measured shape = fftCurve(1.0, 1.0f);
        const Measured average = averagePoints(points, Flow::LineArray);
        QCOMPARE(average.freq, shape.freq);
        for (qsizetype k = 1; k < shape.freq.size(); k += 97)
            QVERIFY(std::abs(db(average.magnitude[k]) - db(shape.magnitude[k])) < 1e-3);
        QCOMPARE(average.phase, points[1].phase);
        QCOMPARE(averagePoints({}, Flow::LineArray).freq.size(), 0);
    }

    // The average of identical points is each of them, bin by bin, whatever their level.
    void identicalPointsAverageToThemselves_data()
    {
        QTest::addColumn<double>("gain");
        QTest::newRow("0 dB") << 1.0;
        QTest::newRow("-12 dB") << 0.25;
        QTest::newRow("+20 dB") << 10.0;
    }
    void identicalPointsAverageToThemselves()
    {
        QFETCH(double, gain);
        const Measured point = fftCurve(gain, 0.7f);
        for (const Flow flow : {Flow::LineArray, Flow::PointSource}) {
            const Measured average = averagePoints({point, point, point}, flow);
            for (qsizetype k = 1; k < point.freq.size(); ++k)
                QVERIFY2(std::abs(db(average.magnitude[k]) - db(point.magnitude[k])) < 1e-4,
                         qPrintable(QString("bin %1").arg(k)));
        }
    }

    void levelWindow_data()
    {
        QTest::addColumn<QList<double>>("gaps");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<double>("gapDb");
        const QList<double> inside11(11, 6.0), inside12(12, 6.0);
        QTest::newRow("11 ticks at +6.0: not yet") << inside11 << false << 6.0;
        QTest::newRow("12 ticks at +6.0: ready") << inside12 << true << 6.0;
        QTest::newRow("29 ticks out once ready: still ready")
                << inside12 + QList<double>(29, 200.0) << true << 200.0;
        QTest::newRow("30 ticks out: lost")
                << inside12 + QList<double>(30, 200.0) << false << 200.0;
        // −100 then +100 puts one mean outside and brings the next back: the count starts over.
        const QList<double> restart = QList<double>(11, 0.0) + QList<double>{-100.0, 100.0};
        QTest::newRow("an outside mean restarts the count")
                << restart + QList<double>(10, 0.0) << false << 0.0;
        QTest::newRow("12 inside after it") << restart + QList<double>(11, 0.0) << true << 0.0;
        QList<double> sixteen(15, 0.0);
        sixteen.prepend(150.0);
        QTest::newRow("16th gap drops the oldest") << sixteen << false << 0.0;
    }

    void levelWindow()
    {
        QFETCH(QList<double>, gaps);
        QFETCH(bool, ready);
        QFETCH(double, gapDb);
        const LevelWindow window = fed(gaps);
        QCOMPARE(window.ready(), ready);
        QVERIFY2(std::abs(window.gapDb() - gapDb) < 1e-9,
                 qPrintable(QString::number(window.gapDb())));
    }

    void levelWindowStartsOverWithoutSignal()
    {
        LevelWindow window = fed(QList<double>(12, 0.0));
        QVERIFY(window.ready());
        QVERIFY(!window.add(-95.0, -20.0));
        QVERIFY(!window.ready());
        QCOMPARE(window.gapDb(), 0.0);
        QVERIFY(!window.add(-20.0, -90.0));
        QVERIFY(window.add(-20.0, -89.9));
    }

    // A flat curve at −6.02 dB reads −6.02 dB on the display grid, and 0 dB relative to itself.
    void displayCurveOfAFlatCurve_data()
    {
        QTest::addColumn<int>("scale");
        QTest::addColumn<double>("level");
        QTest::newRow("absolute") << int(LevelScale::Absolute) << db(0.5);
        QTest::newRow("relative") << int(LevelScale::Relative) << 0.0;
    }

    void displayCurveOfAFlatCurve()
    {
        QFETCH(int, scale);
        QFETCH(double, level);
        const Measured m = fftCurve(0.5, 0.7f);
        const QList<float> flat(m.freq.size(), 0.5f);
        const snt::eq::DisplayCurve display
                = displayCurve(m.freq, flat, m.coherence, LevelScale(scale), Flow::PointSource);
        QVERIFY(display.valid);
        QCOMPARE(display.freq, snt::eq::displayFrequencyGrid());
        for (qsizetype i = 0; i < display.freq.size(); ++i) {
            QVERIFY(std::abs(display.before[i] - level) < 1e-3);
            QVERIFY(std::abs(display.coherence[i] - 0.7f) < 1e-5);
        }
        QVERIFY(!displayCurve(m.freq.mid(0, 7), flat.mid(0, 7), {}, LevelScale::Absolute,
                              Flow::PointSource)
                         .valid);
    }

    void relativeLevelsAreClamped()
    {
        const Measured m = fftCurve(1.0, 1.0f);
        QList<float> magnitude(m.freq.size(), 1.0f);
        magnitude[10] = 1e-6f; // −120 dB
        magnitude[20] = 1e3f; // +60 dB
        magnitude[30] = 0.0f;
        const QList<float> relative = normalizedDb(m.freq, magnitude, {}, Flow::PointSource);
        QCOMPARE(relative[10], -60.0f);
        QCOMPARE(relative[20], 30.0f);
        QCOMPARE(relative[30], -60.0f);
        QVERIFY(std::abs(relative[4000]) < 1e-4);
    }

    void packCurvesReferToTheSchemeLevel()
    {
        CurvePack pack;
        pack.freq = {1, 2, 3};
        snt::eq::Scheme scheme;
        scheme.level = 6.0f;
        scheme.hasLevel = true;
        Measured snapshot;
        snapshot.freq = logSpaced(7, 100, 1000);
        snapshot.magnitude = QList<float>(7, 1.0f);
        fillPackCurves(pack, snapshot, &scheme);
        QVERIFY(pack.freq.isEmpty() && pack.level.isEmpty() && pack.coherence.isEmpty());

        snapshot.freq = logSpaced(8, 100, 1000);
        snapshot.magnitude = {1.0f, 2.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
        fillPackCurves(pack, snapshot, &scheme);
        QCOMPARE(pack.freq, snapshot.freq);
        QVERIFY(std::abs(pack.level[1] - (db(2.0) - 6.0)) < 1e-5);
        QCOMPARE(pack.level[2], -60.0f);
        QCOMPARE(pack.coherence, QList<float>(8, 1.0f));
        QVERIFY(pack.phase.isEmpty());
        fillPackCurves(pack, snapshot, nullptr);
        QVERIFY(pack.freq.isEmpty());
    }

    // A pure delay of 2.5 ms on top of a 30° phase: putting the delay back leaves 30° at every
    // frequency, smoothed or not, on the curve's own points or another grid.
    void exportPhaseRemovesTheDelay_data()
    {
        QTest::addColumn<int>("smoothBands");
        QTest::addColumn<bool>("ownGrid");
        QTest::newRow("raw, own grid") << 0 << true;
        QTest::newRow("1/6 octave, display grid") << 6 << false;
    }

    void exportPhaseRemovesTheDelay()
    {
        QFETCH(int, smoothBands);
        QFETCH(bool, ownGrid);
        const QList<float> freq = logSpaced(2000, 20, 20000);
        QList<float> phase;
        for (const float f : freq)
            phase.append(float(std::remainder(30.0 - 360.0 * f * 0.0025, 360.0)));
        const QList<float> &grid = ownGrid ? freq : snt::eq::displayFrequencyGrid();
        const QList<float> result = exportPhase(freq, phase, 2.5, smoothBands, grid);
        QCOMPARE(result.size(), grid.size());
        for (const float p : result)
            QVERIFY2(std::abs(p - 30.0f) < 0.05f, qPrintable(QString::number(p)));
        QVERIFY(exportPhase(freq, phase.mid(1), 2.5, 0, grid).isEmpty());
    }
};

SNT_TEST_MAIN(CurveFeedsTest)
#include "CurveFeedsTest.moc"
