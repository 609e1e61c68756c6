#include "eq/SchemeEngine.h"
#include "SyntheticCurves.h"
#include "eq/CurvePreparation.h"
#include "eq/PeqSearch.h"
#include "eq/SchemeLane.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <functional>
#include <random>

using namespace snt::eq;

namespace {

const QStringList presetNamesInLaneOrder{QStringLiteral("平直"),
                                         QStringLiteral("常规箱主扩 低频 +2"),
                                         QStringLiteral("室外主扩 高频 +3"),
                                         QStringLiteral("DJ / EDM 主扩"),
                                         QStringLiteral("补声"),
                                         QStringLiteral("返送")};

QList<Scheme> compute(const Measured &m, bool lineArray = false, QString *log = nullptr)
{
    Options options;
    options.lineArray = lineArray;
    return computeSchemes(m, options, log, {});
}

// A resonance with the phase a real measurement carries: the filter's own phase plus 2 ms of
// delay, wrapped into ±180°.
Measured resonanceWithPhase()
{
    Measured m = synthetic::curve({{1000, 6, 2}});
    m.delayMs = 2.0;
    for (const float f : std::as_const(m.freq)) {
        const double own
                = filterResponse({.type = Peaking, .fc = 1000.0f, .q = 2.0f, .gainDb = 6.0f}, f)
                          .arg()
                  * 180.0 / M_PI;
        m.phase.append(float(std::remainder(own - 360.0 * f * 0.002, 360.0)));
    }
    return m;
}

bool sameSchemes(const QList<Scheme> &a, const QList<Scheme> &b)
{
    const auto key = [](const Scheme &s) {
        return std::tie(s.name, s.bands, s.hpf, s.lpf, s.level, s.measured, s.measuredRaw, s.phase,
                        s.fitError, s.blockedReason);
    };
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                      [&](auto &x, auto &y) { return key(x) == key(y); });
}

QList<double> onGrid(const std::function<double(float)> &curve)
{
    QList<double> values;
    for (const float f : standardGrid())
        values.append(curve(f));
    return values;
}

// The ladder scoring written the plain way, band by band through peakingGainDb.
LadderResult plainLadder(const QList<double> &r, double f, const Ladder &l,
                         const QList<float> &grid)
{
    LadderResult best{0, 0, INFINITY};
    for (int i = 0; i < l.gains; ++i) {
        for (int j = 0; j < l.qs; ++j) {
            const double g = l.firstGain + i * l.sign * l.gainStep;
            const double q = 0.5 + j * l.qStep;
            double sum = 0.0;
            for (qsizetype k = 0; k < grid.size(); ++k)
                sum += std::abs(peakingGainDb(grid[k], f, g, q) + r[k]);
            if (sum / grid.size() < best.error)
                best = {g, q, sum / grid.size()};
        }
    }
    return best;
}

} // namespace

class SchemeEngineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString tracePath;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        tracePath = dir.filePath(QStringLiteral("eq-trace.txt"));
        qputenv("SNT_EQ_TRACE", tracePath.toLocal8Bit());
    }

    // --- the band search ---

    // The search skips ladder pairs that cannot win; the winner must be the plain scan's, to the bit.
    void ladderMatchesPlainEvaluation_data()
    {
        QTest::addColumn<QList<double>>("r");
        const QList<float> &grid = standardGrid();
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 3.0);
        QTest::newRow("noise") << onGrid([&](float) { return noise(random); });
        const QList<Band> features{{63, 5, 3}, {1000, -4, 1.5}, {1100, 6, 4}, {9000, -7, 2}};
        QTest::newRow("smooth") << bandsResponse(features, grid);
        QList<double> flatTop(grid.size(), 0.0);
        for (qsizetype k = 140; k < 160; ++k)
            flatTop[k] = 3.0;
        QTest::newRow("ties") << flatTop;
    }

    void ladderMatchesPlainEvaluation()
    {
        const QList<float> &grid = standardGrid();
        QFETCH(QList<double>, r);
        for (const double f : {63.0875, 1000.39, 9600.0}) {
            // The fine cut ladder and the coarse boost ladder.
            for (const Ladder &l :
                 {Ladder{-1, -1.0, 0.1, 91, 0.1, 56}, Ladder{1, 1.0, 1.0, 10, 0.3, 19}}) {
                const LadderResult fast = evaluateCandidate(r, f, l, grid);
                const LadderResult plain = plainLadder(r, f, l, grid);
                QVERIFY2(fast.gain == plain.gain && fast.q == plain.q && fast.error == plain.error,
                         qPrintable(QStringLiteral("%1 Hz: %2 %3 %4")
                                            .arg(f)
                                            .arg(fast.gain)
                                            .arg(fast.q)
                                            .arg(fast.error)));
            }
        }
    }

    void candidates()
    {
        QCOMPARE(candidateIndices({0, 2, 0, 2, 0}, 1.0), (QList<int>{1, 2, 3}));
        QVERIFY(candidateIndices({0, 2, 2}, 1.0).isEmpty());
        const QList<float> &grid = standardGrid();
        const QList<double> r = onGrid([](float f) { return 8.0 * std::sin(std::log2(f) * 9.0); });
        const QList<double> c = peakCandidates(r, grid);
        QVERIFY(!c.isEmpty() && c.size() <= 20 && c.first() > 0 && c.last() < 0);
        // Indices beyond the curve are ignored instead of read.
        QCOMPARE(pruneCandidates(grid, r.mid(0, 10), {3, 400, -2}, true).size(), 1);
    }

    void searchFindsTheInverseBand()
    {
        const QList<float> &grid = standardGrid();
        const QList<Band> bands = searchPeq(
                grid, onGrid([&](float f) { return peakingGainDb(f, grid[149], 6.0, 2.0); }), 60,
                20000, 8, false);
        QVERIFY(!bands.isEmpty());
        QCOMPARE(bands.first().hz, double(grid[149]));
        QVERIFY(std::abs(bands.first().gain + 6.0) < 1e-9
                && std::abs(bands.first().q - 2.0) < 1e-9);
        // Small deviations are left alone, and no band is allowed with a budget of none.
        QVERIFY(searchPeq(grid, QList<double>(grid.size(), 0.0), 60, 20000, 8, false).isEmpty());
        const QList<double> bump = onGrid([](float f) { return peakingGainDb(f, 2000, 0.9, 1.0); });
        QVERIFY(searchPeq(grid, bump, 60, 20000, 8, false).isEmpty());
        const QList<double> big = onGrid([](float f) { return peakingGainDb(f, 2000, 6, 1.0); });
        QVERIFY(searchPeq(grid, big, 60, 20000, 0, false).isEmpty());
        // A deviation list shorter than the grid is read only as far as it goes.
        QVERIFY(searchPeq(grid, big.mid(0, 100), 60, 20000, 8, true).size() <= 8);
    }

    // --- whole schemes ---

    void flatCurveNeedsNoBands()
    {
        Measured flat = synthetic::curve({}); // measured up to 19 kHz
        const qsizetype n = std::upper_bound(flat.freq.cbegin(), flat.freq.cend(), 19000.0f)
                            - flat.freq.cbegin();
        flat.freq.resize(n);
        flat.magnitude.resize(n);
        flat.coherence.resize(n);
        const QList<Scheme> schemes = compute(flat);
        QCOMPARE(schemes.size(), 6);
        for (const int lane : {0, 4, 5})
            QVERIFY2(schemes[lane].bands.isEmpty() && schemes[lane].fitError < 0.05f
                             && schemes[lane].valid,
                     qPrintable(schemes[lane].name));
    }

    // Every lane answers a resonance with a cut; lanes come in their order, the first one traced.
    void resonanceGetsAnOppositeCut()
    {
        QFile::remove(tracePath);
        QString log;
        const Measured resonance = synthetic::curve({{1000, 6, 2}});
        const QList<Scheme> schemes = compute(resonance, false, &log);
        QStringList names;
        QList<int> indices;
        for (const Scheme &s : schemes) {
            names.append(s.name);
            indices.append(s.targetIndex);
            QVERIFY(s.valid && s.kind == "目标曲线" && s.hasLevel);
            const auto cut
                    = std::find_if(s.bands.cbegin(), s.bands.cend(), [](const SchemeBand &b) {
                          return std::abs(std::log2(b.freq / 1000.0)) < 1.0 / 6.0;
                      });
            QVERIFY2(cut != s.bands.cend(), qPrintable(s.name));
            QVERIFY2(cut->gain < -4.5f && cut->gain > -7.5f && cut->q > 1.0f && cut->q < 3.0f,
                     qPrintable(QString::number(cut->gain)));
            QCOMPARE(s.freq, standardGrid());
            QVERIFY(s.predicted.size() == 266 && s.predictedPhase.size() == 266);
            QCOMPARE(s.maxCut,
                     std::min_element(s.bands.cbegin(), s.bands.cend(), [](auto &x, auto &y) {
                         return x.gain < y.gain;
                     })->gain);
            // Around the resonance the prediction comes close to the target.
            QVERIFY(std::abs(s.predicted[149] - s.target[149]) < 1.0f);
        }
        QCOMPARE(names, presetNamesInLaneOrder);
        QCOMPARE(indices, (QList<int>{0, 1, 3, 2, 4, 5}));
        QVERIFY(log.contains(QStringLiteral("平直："))
                && log.contains(QStringLiteral("并行 6 路 · 用时 ")) && log.endsWith(" ms\n"));

        QFile file(tracePath);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        const QStringList starts{"lo=60.000 hi=", "m=[", "tgt=[0.000,", "iter 0 cands [",
                                 "  try hz=1000.4 g=-"};
        for (qsizetype i = 0; i < starts.size(); ++i)
            QVERIFY2(lines.value(i).startsWith(starts[i]), qPrintable(lines.value(i)));
        compute(synthetic::curve({}, 2000, 4)); // refused: the last trace stays
        QVERIFY(QFile::exists(tracePath));

        const QList<Scheme> array = compute(resonance, true);
        QCOMPARE(array.size(), 2);
        QVERIFY(array[0].name == "低频 +3.0 dB" && array[1].name == "低频 +4.5 dB");
        for (const Scheme &s : array)
            QVERIFY(s.targetIndex == -1 && s.bands.size() <= 8);
    }

    void rollOffsGiveCorners()
    {
        const QList<Scheme> schemes = compute(synthetic::curve({}, 100, 4, 12000, 4));
        // The corners sit where the curve is 10 dB down: 100/9^(1/8) and 12000·9^(1/8) Hz.
        const Scheme &flat = schemes.first();
        QVERIFY(std::abs(std::log2(flat.hpf.hz / (100.0 / std::pow(9.0, 0.125)))) < 0.05);
        QVERIFY(std::abs(std::log2(flat.lpf.hz / (12000.0 * std::pow(9.0, 0.125)))) < 0.05);
        QCOMPARE(flat.hpf.hz, std::round(flat.hpf.hz * 10.0) / 10.0);
        QCOMPARE(schemes[4].hpf, (Corner{true, QStringLiteral("BW"), 2, 120.0}));
        QCOMPARE(schemes[4].targetIndex, 4);
    }

    void progressArrivesInOrderFromTheLanes()
    {
        QMutex mutex;
        QList<int> done;
        QList<Qt::HANDLE> threads;
        computeSchemes(synthetic::curve({{1000, 6, 2}}), Options(), nullptr, [&](int d, int total) {
            QMutexLocker lock(&mutex);
            QCOMPARE(total, 6);
            done.append(d);
            threads.append(QThread::currentThreadId());
        });
        QCOMPARE(done, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
        QCOMPARE(threads.first(), QThread::currentThreadId());
        const QSet<Qt::HANDLE> lanes(threads.cbegin() + 1, threads.cend());
        QVERIFY(lanes.size() == 6 && !lanes.contains(QThread::currentThreadId()));
    }

    // --- curves that are no loudspeaker measurement ---

    void refusals_data()
    {
        QTest::addColumn<Measured>("curve");
        QTest::addColumn<QString>("message");
        Measured lowCoherence = synthetic::curve({});
        Measured deadTop = lowCoherence;
        for (qsizetype i = 0; i < lowCoherence.freq.size(); ++i) {
            if (lowCoherence.freq[i] < 400)
                lowCoherence.coherence[i] = 0.3f;
            if (deadTop.freq[i] > 800)
                deadTop.coherence[i] = 0.2f;
        }
        QTest::newRow("no high end")
                << deadTop
                << QStringLiteral("这条曲线的高频几乎没有有效数据，像是只测到了低音，或者高音单元没"
                                  "响。先确认高音单元和接线，再重测一遍。");
        QTest::newRow("tweeter only")
                << synthetic::curve({}, 2000, 4)
                << QStringLiteral("这条曲线的低频几乎没有，像是只测到了高音，或者低音单元没响。先确"
                                  "认低音单元和接线，再重测一遍。");
        QTest::newRow("woofer only")
                << synthetic::curve({}, 0, 0, 500, 4)
                << QStringLiteral("这条曲线的高频比低频少太多，像是只测到了低音喇叭。可能是高音单元"
                                  "没响，或者话筒离得太远。先确认高音单元和接线，再重测一遍。");
        QTest::newRow("nothing low")
                << lowCoherence
                << QStringLiteral("这条曲线的低频基本没测到东西，可能是低音单元没响、只测了高音，或"
                                  "者低频被房间噪声盖住了。先确认单元和话筒位置，再重测一遍。");
        const QString narrowMessage
                = QStringLiteral("这条曲线能用的频段太窄，算不出可信的高低通和 EQ，先重测一遍。");
        Measured narrow = synthetic::curve({});
        const auto inside = std::find_if(narrow.freq.cbegin(), narrow.freq.cend(),
                                         [](float f) { return f >= 100.0f; });
        const qsizetype first = inside - narrow.freq.cbegin();
        const qsizetype count
                = std::find_if(inside, narrow.freq.cend(), [](float f) { return f > 140.0f; })
                  - inside;
        narrow.freq = narrow.freq.mid(first, count);
        narrow.magnitude = narrow.magnitude.mid(first, count);
        narrow.coherence = narrow.coherence.mid(first, count);
        QTest::newRow("100 to 140 Hz") << narrow << narrowMessage;
        Measured nothing; // no usable point at all: refused, not fitted
        nothing.freq = {100.0f, NAN};
        nothing.magnitude = {NAN, 1.0f};
        QTest::newRow("no usable point") << nothing << narrowMessage;
    }

    void refusals()
    {
        QFETCH(Measured, curve);
        QFETCH(QString, message);
        QString log;
        const QList<Scheme> schemes = compute(curve, false, &log);
        QCOMPARE(schemes.size(), 6);
        for (const Scheme &s : schemes) {
            QVERIFY(s.blocked() && s.blockedReason == message && s.explain == message);
            QVERIFY(!s.valid && s.bands.isEmpty() && !s.hpf.on && !s.lpf.on);
            QVERIFY(s.target == s.measured && s.predictedRaw == s.measuredRaw);
        }
        QCOMPARE(log.count(QStringLiteral("：已拦下 · ") + message), 6);
    }

    void laneRefusalRules()
    {
        QCOMPARE(diagnoseLargeDip(standardGrid(), QList<float>(266, 0.0f), 60, 20000), QString());
        // A dip of 20 dB over more than an octave in the middle of the range.
        QList<float> dip;
        for (const float f : standardGrid())
            dip.append(f > 700 && f < 2500 ? -20.0f : 0.0f);
        QVERIFY(!diagnoseLargeDip(standardGrid(), dip, 60, 20000).isEmpty());
        QVERIFY(diagnoseLargeDip(standardGrid(), dip, 800, 20000)
                        .isEmpty()); // touches the range end
        QList<float> raised(266, 10.0f); // both ends 10 dB above the middle
        std::fill(raised.begin() + 60, raised.begin() + 200, 0.0f);
        QVERIFY(!diagnoseSaggingMiddle(standardGrid(), raised, -4.0, 60, 20000).isEmpty());
        double shift = 0.0;
        QCOMPARE(pulledDownLowPass(8.0, 16000.0, 60.0, &shift),
                 std::round(16000.0 / std::pow(2.0, 0.25) * 10.0) / 10.0);
        QCOMPARE(shift, 0.25);
        QCOMPARE(pulledDownLowPass(5.5, 16000.0, 60.0, &shift), 0.0);
        QCOMPARE(shift, 0.0);
    }

    // --- input as it arrives from text files and other callers ---

    void descendingInputGivesTheSameSchemes()
    {
        const Measured ascending = resonanceWithPhase();
        Measured descending = ascending;
        std::reverse(descending.freq.begin(), descending.freq.end());
        std::reverse(descending.magnitude.begin(), descending.magnitude.end());
        std::reverse(descending.coherence.begin(), descending.coherence.end());
        std::reverse(descending.phase.begin(), descending.phase.end());
        const QList<Scheme> expected = compute(ascending);
        QVERIFY(sameSchemes(compute(descending), expected));
        // The phase is the resonance's own, the 2 ms taken out again.
        QVERIFY(std::abs(expected.first().phase[149]) < 1.0f);
    }

    void nonFinitePointsAreDropped()
    {
        const Measured clean = synthetic::curve({{1000, 6, 2}});
        Measured dirty = clean;
        dirty.freq.insert(500, NAN);
        dirty.magnitude.insert(500, 1.0f);
        dirty.coherence.insert(500, 1.0f);
        dirty.freq.insert(9000, 2345.0f);
        dirty.magnitude.insert(9000, INFINITY);
        dirty.coherence.insert(9000, 1.0f);
        // A given level that is no number is estimated like a missing one.
        dirty.hasLevel = true;
        dirty.level = NAN;
        QVERIFY(sameSchemes(compute(dirty), compute(clean)));
    }

    void mismatchedListsStayInBounds()
    {
        Measured m = resonanceWithPhase();
        m.magnitude = m.magnitude.mid(
                0, m.magnitude.size() - 1000); // a fresh buffer: reads past it are caught
        m.coherence.removeLast();
        m.phase.append({1.0f, 2.0f, 3.0f});
        const QList<Scheme> schemes = compute(m);
        QCOMPARE(schemes.size(), 6);
        for (const Scheme &s : schemes)
            QVERIFY(s.valid);
        // The phase did not belong to the frequencies, so it was derived from the level slope.
        QCOMPARE(schemes.first().phase, slopePhase(standardGrid(), schemes.first().measured));

        // Lists of unequal length handed to the helpers directly.
        const QList<float> &grid = standardGrid();
        QVERIFY(std::isnan(bandMedian(grid, {1, 2}, 0, 1e6)));
        QCOMPARE(midbandMeanLevel(grid, {1, 2}), 0.0);
        QCOMPARE(slopePhase(grid, {0, 6, 12}).size(), 3);
        QVERIFY(std::isfinite(baseLevel(grid, QList<double>(10, 1.0), 60, 20000)));
        QCOMPARE(estimateBaseLevel(grid, {1, 2, 3}, {1}, false), 0.0f);
        QVERIFY(diagnoseCurve(grid.mid(0, 30), QList<float>(3, 0.0f), QList<float>(7, 1.0f))
                        .isEmpty());
        QCOMPARE(compute(Measured(), true).size(), 2);
    }
};

SNT_TEST_MAIN(SchemeEngineTest)
#include "SchemeEngineTest.moc"
