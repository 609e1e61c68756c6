#include "eq/DisplayCurve.h"
#include "SyntheticCurves.h"
#include "eq/BandRules.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplaySmoothing.h"
#include "eq/FilterResponse.h"
#include "tests/support/TestMain.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>

using namespace snt::eq;
using Cplx = std::complex<double>;

namespace {

// Closed forms, written here apart from the filter code: the analog prototypes at s = j·f/fc.
Cplx butterworth4HighPass(double f, double fc)
{
    const Cplx s(0.0, f / fc);
    return std::pow(s, 4)
           / ((s * s + 2.0 * std::cos(3.0 * M_PI / 8.0) * s + 1.0)
              * (s * s + 2.0 * std::cos(M_PI / 8.0) * s + 1.0));
}

Cplx linkwitzRiley4LowPass(double f, double fc)
{
    const Cplx s(0.0, f / fc);
    const Cplx b2 = 1.0 / (s * s + std::sqrt(2.0) * s + 1.0);
    return b2 * b2;
}

Cplx peaking(double f, double f0, double gainDb, double q)
{
    const Cplx s(0.0, f / f0);
    const double a = std::pow(10.0, gainDb / 40.0);
    return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0);
}

double db(Cplx h)
{
    return 20.0 * std::log10(std::abs(h));
}

double deg(Cplx h)
{
    return std::arg(h) * 180.0 / M_PI;
}

// Largest difference of two lists, with differences of phase taken modulo 360° when asked.
double largestDifference(const QList<float> &a, const QList<float> &b, bool modulo360 = false)
{
    double largest = a.size() == b.size() ? 0.0 : std::numeric_limits<double>::infinity();
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i) {
        const double d = double(a[i]) - b[i];
        largest = std::max(largest, std::abs(modulo360 ? std::remainder(d, 360.0) : d));
    }
    return largest;
}

QList<float> flatLevel(const QList<float> &freq, float level = 0.0f)
{
    return QList<float>(freq.size(), level);
}

CurveRecord flatRecord()
{
    CurveRecord r;
    r.freq = synthetic::fftBins();
    r.levelDb = flatLevel(r.freq);
    r.phaseDeg = flatLevel(r.freq);
    return r;
}

// The preview as the algorithm reads literally: every response summed filter by filter at every
// point, smoothed, unwrapped and read on the display grid.
DisplayCurve literalPreview(const CurveRecord &r)
{
    const qsizetype n = r.freq.size();
    QList<float> eqDb(n, 0.0f);
    QList<float> eqPhase(n, 0.0f);
    for (const SchemeBand &b : r.bands) {
        for (qsizetype i = 0; i < n; ++i) {
            eqDb[i] += float(peakingGainDb(r.freq[i], b.freq, b.gain, b.q));
            eqPhase[i] += float(deg(peaking(r.freq[i], b.freq, b.gain, b.q)));
        }
    }
    addCornerResponse(r.freq, r.corners.highPass, 0, eqDb, eqPhase);
    addCornerResponse(r.freq, r.corners.lowPass, 1, eqDb, eqPhase);
    QList<float> after = r.levelDb;
    QList<float> phaseBefore(n);
    QList<float> phaseAfter(n);
    for (qsizetype i = 0; i < n; ++i) {
        after[i] += eqDb[i];
        phaseBefore[i] = float(std::remainder(r.freq[i] * r.delayMs * 0.36 + r.phaseDeg[i], 360.0));
    }
    phaseBefore = unwrapPhase(phaseBefore);
    for (qsizetype i = 0; i < n; ++i)
        phaseAfter[i] = phaseBefore[i] + eqPhase[i];
    phaseAfter = unwrapPhase(phaseAfter);
    const int s = r.smoothBands;
    const auto onGrid = [&](const QList<float> &values) {
        QList<float> v = resampleToGrid(r.freq, values, displayFrequencyGrid());
        for (qsizetype i = 0; i < v.size(); ++i) {
            if (displayFrequencyGrid()[i] < r.freq.first()
                || displayFrequencyGrid()[i] > r.freq.last())
                v[i] = -100.0f;
        }
        return v;
    };
    DisplayCurve d;
    if (s > 0 && r.smoothEqOnly) {
        const QList<float> smoothedEq = smoothCurve(r.freq, eqDb, s);
        for (qsizetype i = 0; i < n; ++i)
            after[i] = r.levelDb[i] + smoothedEq[i];
        d.before = onGrid(r.levelDb);
        d.after = onGrid(after);
    } else {
        d.before = onGrid(s > 0 ? smoothCurve(r.freq, r.levelDb, s) : r.levelDb);
        d.after = onGrid(s > 0 ? smoothCurve(r.freq, after, s) : after);
    }
    d.phaseBefore
            = onGrid(unwrapPhase(s > 0 ? complexSmooth(r.freq, phaseBefore, s) : phaseBefore));
    d.phaseAfter = onGrid(unwrapPhase(s > 0 ? complexSmooth(r.freq, phaseAfter, s) : phaseAfter));
    return d;
}

} // namespace

// Display-curve maths and the smoothing for charts.
class DisplayCurveTest : public QObject
{
    Q_OBJECT

private slots:
    void displayGrid()
    {
        const QList<float> &grid = displayFrequencyGrid();
        QCOMPARE(grid.size(), 480);
        QCOMPARE(grid.first(), 20.0f);
        QCOMPARE(grid.last(), 20000.0f);
        for (qsizetype i = 1; i < grid.size(); ++i)
            QVERIFY(std::abs(std::log(grid[i] / grid[i - 1]) - std::log(1000.0) / 479.0) < 1e-6);
    }

    void listOperations()
    {
        QCOMPARE(unwrapPhase({170, -170}), (QList<float>{170, 190}));
        QCOMPARE(unwrapPhase({0, 360}), (QList<float>{0, 0}));
        QCOMPARE(interpolateCurve({1, 2}, {10, 20}, {0, 1.5f, 3}), (QList<float>{10, 15, 20}));
        QCOMPARE(interpolateCurve({1}, {10}, {1, 2}), (QList<float>{0, 0}));
        QCOMPARE(interpolateCurve({1, 2}, {10}, {1}), (QList<float>{0}));
        // In phase: equal levels add 6.02 dB; a silent partner adds nothing; two silences floor.
        const QList<float> sum = combineCurves({0, -6, 0, -300}, {0, -6, -300, -300, 5});
        QCOMPARE(sum.size(), 4);
        QVERIFY(std::abs(sum[0] - 20.0 * std::log10(2.0)) < 1e-5
                && std::abs(sum[1] + 6 - sum[0]) < 1e-5);
        QVERIFY(std::abs(sum[2]) < 1e-6 && std::abs(sum[3] + 240.0f) < 1e-3);
    }

    // The quick remainder must be the library's IEEE remainder bit for bit, half turns included.
    void remainderMatchesTheLibrary()
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> wide(-1e7, 1e7);
        QList<double> xs{0.0,    -0.0,   180.0, -180.0,
                         540.0,  -540.0, 900.0, 360.0,
                         -360.0, 1e12,   3e15,  std::numeric_limits<double>::infinity(),
                         1e-300};
        for (int k = -2000; k <= 2000; ++k) {
            const double tie = 180.0 + 360.0 * k;
            xs << tie << std::nextafter(tie, 1e300) << std::nextafter(tie, -1e300);
        }
        for (int i = 0; i < 100000; ++i)
            xs << wide(random) << wide(random) * 1e-4;
        for (const double x : std::as_const(xs)) {
            const double expected = std::remainder(x, 360.0);
            const double got = remainder360(x);
            QVERIFY2(std::memcmp(&expected, &got, sizeof got) == 0,
                     qPrintable(QString::number(x, 'g', 17)));
        }
        QVERIFY(std::isnan(remainder360(std::nan(""))));
    }

    // The quick angle stays within 1e-8 rad of the library's on every side, axes and zeros included.
    void quickAngleMatchesTheLibrary()
    {
        std::mt19937 random(11);
        std::uniform_real_distribution<double> any(-1.0, 1.0);
        std::uniform_real_distribution<double> exponent(-200.0, 200.0);
        for (int i = 0; i < 200000; ++i) {
            const double scale = std::pow(10.0, exponent(random));
            const double y = any(random) * scale;
            const double x = any(random) * scale;
            QVERIFY(std::abs(quickAtan2(y, x) - std::atan2(y, x)) < 1e-8);
        }
        for (const double y : {0.0, -0.0, 1.0, -1.0})
            for (const double x : {0.0, -0.0, 1.0, -1.0, 1e-300})
                QVERIFY(std::abs(quickAtan2(y, x) - std::atan2(y, x)) < 1e-8
                        && std::signbit(quickAtan2(y, x)) == std::signbit(std::atan2(y, x)));
    }

    // A pure delay's phase, wrapped, unwraps back to the straight line -360·f·τ.
    void unwrapsAPureDelay()
    {
        const QList<float> f = synthetic::fftBins();
        QList<float> wrapped;
        for (const float x : f)
            wrapped.append(float(std::remainder(-360.0 * x * 0.0123, 360.0)));
        const QList<float> unwrapped = unwrapPhase(wrapped);
        for (qsizetype i = 0; i < f.size(); i += 97)
            QVERIFY(std::abs(unwrapped[i] + 360.0 * f[i] * 0.0123)
                    <= 1e-6 * 360.0 * f[i] * 0.0123 + 1e-3);
    }

    void logUniformResampling()
    {
        QList<float> f;
        QList<float> v;
        for (int i = 0; i <= 10; ++i) {
            f.append(float(100.0 * std::pow(2.0, i / 10.0)));
            v.append(float(std::log2(f.last())));
        }
        QList<float> fine;
        const QList<float> values = resampleLogUniform(f, v, fine);
        QCOMPARE(fine.size(), 193);
        QCOMPARE(fine.last(), 200.0f);
        for (qsizetype k = 0; k < fine.size(); ++k)
            QVERIFY(std::abs(values[k] - std::log2(fine[k])) < 1e-5); // linear in log f: exact
        // Too short, unequal or not rising: unchanged and no grid.
        for (const auto &[freq, level] :
             {std::pair{f.mid(0, 7), v.mid(0, 7)}, std::pair{f, v.mid(1)},
              std::pair{QList<float>(11, 5.0f), v}}) {
            QCOMPARE(resampleLogUniform(freq, level, fine), level);
            QVERIFY(fine.isEmpty());
            if (freq.size() == level.size() && freq.size() >= 8)
                continue;
            QCOMPARE(smoothCurve(freq, level, 3), level);
            QCOMPARE(complexSmooth(freq, level, 3), level);
        }
    }

    // A 12 dB step at 1 kHz smoothed at 1/3 octave: untouched far from the step, half way at it.
    void smoothsAStep()
    {
        const QList<float> f = synthetic::fftBins();
        QList<float> level;
        for (const float x : f)
            level.append(x < 1000.0f ? 0.0f : -12.0f);
        const QList<float> s = smoothCurve(f, level, 3);
        QCOMPARE(s.size(), f.size());
        for (qsizetype i = 0; i < f.size(); ++i) {
            if (f[i] >= 20.0f && f[i] <= 250.0f)
                QVERIFY(std::abs(s[i]) < 1e-4);
            if (f[i] >= 4000.0f)
                QVERIFY(std::abs(s[i] + 12.0f) < 1e-4);
            if (i > 0 && f[i] >= 20.0f)
                QVERIFY(s[i] <= s[i - 1] + 1e-5f);
        }
        const qsizetype at1k = std::lower_bound(f.cbegin(), f.cend(), 1000.0f) - f.cbegin();
        QVERIFY2(std::abs(s[at1k] + 6.0f) < 2.0f, qPrintable(QString::number(s[at1k])));
    }

    // A narrow +12 dB peak smoothed at 1/3 octave: each bin holds the mean level over its octave
    // span (the area under the peak, integrated here), and the bins are blended 1-4-1.
    void smoothsANarrowPeak()
    {
        const QList<float> f = synthetic::fftBins();
        QList<float> level;
        for (const float x : f)
            level.append(float(db(peaking(x, 1000.0, 12.0, 20.0))));
        const auto binMean = [](int k) {
            const double from = std::log2(11.71875) + k / 3.0;
            double area = 0.0;
            for (double o = from; o < from + 1.0 / 3.0; o += 1e-5)
                area += db(peaking(std::exp2(o + 0.5e-5), 1000.0, 12.0, 20.0)) * 1e-5;
            return 3.0 * area;
        };
        const int k = int(std::floor(3.0 * std::log2(1000.0 / 11.71875))); // the bin of 1 kHz
        const double expected = (binMean(k - 1) + 4.0 * binMean(k) + binMean(k + 1)) / 6.0;
        const QList<float> s = smoothCurve(f, level, 3);
        const float highest = *std::max_element(s.cbegin(), s.cend());
        QVERIFY2(std::abs(highest - expected) < 0.02 * expected,
                 qPrintable(QStringLiteral("%1 vs %2").arg(highest).arg(expected)));
        for (qsizetype i = 0; i < f.size(); ++i) {
            if (f[i] > 8000.0f || (f[i] > 20.0f && f[i] < 150.0f))
                QVERIFY(std::abs(s[i]) < 0.05f);
        }
    }

    void smoothsPhasors()
    {
        const QList<float> f = synthetic::fftBins();
        // A constant phase is its own average; a phase flipping between ±179° averages to 180°,
        // which an average of angles would turn into 0°.
        QList<float> constant(f.size(), 30.0f);
        QList<float> flipping;
        for (qsizetype i = 0; i < f.size(); ++i)
            flipping.append(i % 2 == 0 ? 179.0f : -179.0f);
        const QList<float> c = complexSmooth(f, constant, 6);
        const QList<float> p = complexSmooth(f, flipping, 3);
        QCOMPARE(c.size(), f.size());
        for (qsizetype i = 0; i < f.size(); ++i) {
            QVERIFY(std::abs(c[i] - 30.0f) < 1e-3);
            if (f[i] >= 20.0f && f[i] <= 20000.0f)
                QVERIFY2(std::abs(std::abs(std::remainder(p[i], 360.0)) - 180.0) < 1.01,
                         qPrintable(QString::number(p[i])));
        }
        // At and below the first point within 20 Hz to 20 kHz: that point's raw phase.
        const qsizetype first = std::lower_bound(f.cbegin(), f.cend(), 20.0f) - f.cbegin();
        for (qsizetype i = 0; i <= first; ++i)
            QCOMPARE(p[i], flipping[first]);
    }

    void previewRefusals()
    {
        CurveRecord r = flatRecord();
        r.freq = r.freq.mid(0, 7);
        r.levelDb = r.levelDb.mid(0, 7);
        QVERIFY(!prepareDisplayCurve(r).valid);
        r = flatRecord();
        r.levelDb.removeLast();
        QVERIFY(!prepareDisplayCurve(r).valid);
        QVERIFY(prepareDisplayCurve(flatRecord()).valid);
    }

    // Eight points, nothing that applies: after equals before; lists of other lengths stay out.
    void previewWithoutEq()
    {
        CurveRecord r;
        r.freq = {100, 200, 400, 800, 1600, 3200, 6400, 12800};
        r.levelDb = {1, 2, 3, 4, 5, 6, 7, 8};
        r.phaseDeg = {0, 10};
        r.coherence = {1, 1, 1, 1, 0.5f, 0.5f, 0.5f, 0.5f};
        r.bands = {{1000, 0.00005f, 1, true}, {1000, 6, 1, false}, {1000, 6, 0, true}};
        r.corners.highPass = {true, QStringLiteral("BW"), 0, 500.0};
        r.corners.lowPass = {true, QStringLiteral("BW"), 4, 0.0};
        const DisplayCurve d = prepareDisplayCurve(r);
        QVERIFY(d.valid);
        QCOMPARE(d.freq, displayFrequencyGrid());
        QCOMPARE(d.after, d.before);
        QVERIFY(d.phaseBefore.isEmpty() && d.phaseAfter.isEmpty() && d.auxiliary.isEmpty());
        QCOMPARE(d.coherence.size(), 480);
        for (qsizetype i = 0; i < 480; ++i) {
            const float g = d.freq[i];
            if (g < 100.0f || g > 12800.0f) {
                QCOMPARE(d.before[i], -100.0f);
                QCOMPARE(d.coherence[i], -100.0f);
            } else {
                QVERIFY(std::abs(d.before[i] - (1.0 + std::log2(g / 100.0))) < 1e-4);
            }
        }
    }

    // On a flat curve the after curves are exactly the corner filters' and the band's response.
    void previewAppliesTheFilterMaths()
    {
        CurveRecord r = flatRecord();
        r.corners.highPass = {true, QStringLiteral("BW"), 4, 100.0};
        r.corners.lowPass = {true, QStringLiteral("LR"), 4, 5000.0};
        r.bands = {{1000, 6, 2, true}};
        const DisplayCurve d = prepareDisplayCurve(r);
        for (qsizetype i = 0; i < 480; ++i) {
            const double g = d.freq[i];
            const Cplx h = butterworth4HighPass(g, 100) * linkwitzRiley4LowPass(g, 5000)
                           * peaking(g, 1000, 6, 2);
            QVERIFY2(std::abs(d.after[i] - db(h)) < 0.01, qPrintable(QString::number(g)));
            QVERIFY(std::abs(d.before[i]) < 1e-6 && std::abs(d.phaseBefore[i]) < 1e-6);
            QVERIFY(std::abs(std::remainder(d.phaseAfter[i] - deg(h), 360.0)) < 0.05);
        }
    }

    // The measured delay comes out of the phase: a pure delay's phase becomes flat.
    void previewRemovesTheDelay()
    {
        CurveRecord r = flatRecord();
        for (qsizetype i = 0; i < r.freq.size(); ++i)
            r.phaseDeg[i] = float(std::remainder(-0.36 * r.freq[i] * 4.25, 360.0));
        r.delayMs = 4.25;
        for (const int smoothing : {0, 6}) {
            r.smoothBands = smoothing;
            const DisplayCurve d = prepareDisplayCurve(r);
            for (const float p : d.phaseBefore)
                QVERIFY2(std::abs(p) < 0.05f, qPrintable(QString::number(p)));
        }
    }

    // The quick evaluation agrees with the algorithm read literally, on dense FFT points, on
    // third-octave points where the smoothed phase turns fast between neighbours, and on a span
    // too narrow for phase smoothing; smoothing each way included.
    void previewMatchesTheLiteralAlgorithm_data()
    {
        QTest::addColumn<int>("smoothing");
        QTest::addColumn<bool>("eqOnly");
        QTest::addColumn<QList<float>>("freq");
        QTest::addColumn<double>("delayMs"); // 0: the phase turns fast, by 1188° per kHz
        const QList<float> dense = synthetic::fftBins();
        QList<float> thirds;
        for (int k = -17; k <= 13; ++k)
            thirds.append(float(1000.0 * std::pow(2.0, k / 3.0)));
        QList<float> narrow;
        for (int k = 0; k < 12; ++k)
            narrow.append(float(1000.0 + 10.0 * k));
        QTest::newRow("raw") << 0 << false << dense << 3.2;
        QTest::newRow("1/6 octave") << 6 << false << dense << 3.2;
        QTest::newRow("1/3 octave, EQ only") << 3 << true << dense << 3.2;
        QTest::newRow("third-octave points") << 6 << false << thirds << 0.0;
        QTest::newRow("narrow span") << 6 << false << narrow << 3.2;
    }

    void previewMatchesTheLiteralAlgorithm()
    {
        QFETCH(int, smoothing);
        QFETCH(bool, eqOnly);
        QFETCH(QList<float>, freq);
        QFETCH(double, delayMs);
        CurveRecord r;
        r.freq = freq;
        for (const float f : std::as_const(r.freq)) {
            double level = 0.0;
            for (const synthetic::Feature &x : synthetic::roughFeatures())
                level += db(peaking(f, x.hz, x.gainDb, x.q));
            r.levelDb.append(float(level));
            r.phaseDeg.append(float(std::remainder(-0.36 * f * 3.3 + 40.0, 360.0)));
        }
        r.delayMs = delayMs;
        for (const synthetic::Feature &x : synthetic::roughFeatures().mid(0, 10))
            r.bands.append({float(x.hz), float(-x.gainDb), float(x.q), true});
        r.corners.highPass = {true, QStringLiteral("BW"), 8, 70.0};
        r.corners.lowPass = {true, QStringLiteral("BS"), 3, 16000.0};
        r.smoothBands = smoothing;
        r.smoothEqOnly = eqOnly;
        const DisplayCurve quick = prepareDisplayCurve(r);
        const DisplayCurve literal = literalPreview(r);
        QVERIFY(largestDifference(quick.before, literal.before) < 1e-4);
        QVERIFY(largestDifference(quick.after, literal.after) < 1e-3);
        QVERIFY(largestDifference(quick.phaseBefore, literal.phaseBefore) < 0.01);
        QVERIFY(largestDifference(quick.phaseAfter, literal.phaseAfter) < 0.05);
    }

    // A corner adds to each list only as far as that list reaches.
    void cornerResponseStaysInsideShortLists()
    {
        const QList<float> f = synthetic::fftBins().mid(0, 1000);
        const Corner corner{true, QStringLiteral("BW"), 4, 100.0};
        QList<float> level(10, 1.0f);
        QList<float> phase;
        addCornerResponse(f, corner, 0, level, phase);
        QCOMPARE(level.size(), 10);
        QVERIFY(phase.isEmpty());
        for (qsizetype i = 0; i < 10; ++i)
            QVERIFY(std::abs(level[i] - 1.0 - db(butterworth4HighPass(f[i], 100))) < 1e-3);
        QList<float> longer(2000, 0.0f);
        QList<float> shortPhase(3, 0.0f);
        addCornerResponse(f, corner, 0, longer, shortPhase);
        QVERIFY(longer[999] != 0.0f && longer[1000] == 0.0f && longer[1999] == 0.0f);
        QVERIFY(std::abs(shortPhase[2] - deg(butterworth4HighPass(f[2], 100))) < 0.01);
    }
};

SNT_TEST_MAIN(DisplayCurveTest)
#include "DisplayCurveTest.moc"
