#include "engine/BesselLPF.h"
#include "engine/BinRecord.h"
#include "engine/Coherence.h"
#include "engine/FourierTransform.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

// One analysis tick's spectra of two noise blocks: data = a·common + b·own, reference = common.
class SpectraSource {
public:
    explicit SpectraSource(quint32 size) : transform(size), generator(42)
    {
        transform.setWindowType(WindowFunction::Hann);
        transform.prepare();
    }

    void tick(double commonInData, double ownInData, double referenceScale = 1.0,
              double dataScale = 1.0)
    {
        std::normal_distribution<double> noise(0.0, 1.0);
        for (quint32 i = 0; i < transform.size(); ++i) {
            const double common = noise(generator);
            const double own = noise(generator);
            transform.add(float(dataScale * (commonInData * common + ownInData * own)),
                          float(referenceScale * common));
        }
        transform.calculate();
    }

    FourierTransform transform;
    std::mt19937 generator;
};

double meanCoherence(const std::vector<BinRecord>& records)
{
    double sum = 0.0;
    for (std::size_t i = 1; i < records.size(); ++i)
        sum += records[i].coherence;
    return sum / double(records.size() - 1);
}

bool allWithinUnitRange(const std::vector<BinRecord>& records)
{
    for (const BinRecord& r : records)
        if (!(r.coherence >= 0.0f && r.coherence <= 1.0f))
            return false;
    return true;
}

}  // namespace

class EstimatorsTest : public QObject {
    Q_OBJECT

private slots:
    void firstStepAndDcGain_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<float>("gain");
        QTest::newRow("0") << 0 << 132731.3125f;
        QTest::newRow("1") << 1 << 5908.17334f;
        QTest::newRow("2") << 2 << 350.802368f;
    }

    void firstStepAndDcGain()
    {
        QFETCH(int, preset);
        QFETCH(float, gain);
        Filter::BesselLPF<float> filter;
        filter.setPreset(preset);
        QCOMPARE(filter.process(1.0f), 1.0f / gain);
        float y = 0.0f;
        for (int i = 0; i < 3000; ++i)
            y = filter.process(1.0f);
        QVERIFY2(std::abs(y - 1.0f) < 0.002f, qPrintable(QString::number(y)));
    }

    // Against the properties of a fifth-order Bessel low-pass with its −3 dB corner at fc (in
    // ticks): −3 dB at fc, a step that crosses one half after about the DC group delay
    // 2.4274 / (2π·fc) ticks, and a step overshoot of a few per cent at most (a Butterworth
    // of the same order overshoots by about 13 %). Smaller presets smooth more.
    void stepAndFrequencyResponse_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<double>("corner");
        QTest::newRow("0") << 0 << 0.02;
        QTest::newRow("1") << 1 << 0.04;
        QTest::newRow("2") << 2 << 0.08;
    }

    void stepAndFrequencyResponse()
    {
        QFETCH(int, preset);
        QFETCH(double, corner);
        Filter::BesselLPF<float> filter;
        filter.setPreset(preset);
        int halfway = -1;
        float highest = 0.0f;
        for (int tick = 0; tick < 2000; ++tick) {
            const float y = filter.process(1.0f);
            if (halfway < 0 && y >= 0.5f)
                halfway = tick + 1;
            highest = std::max(highest, y);
        }
        const double delay = 2.4274 / (2.0 * std::numbers::pi * corner);
        QVERIFY2(std::abs(halfway - delay) < 0.1 * delay + 1.0,
                 qPrintable(QStringLiteral("%1 ticks, expected about %2").arg(halfway).arg(delay)));
        QVERIFY2(highest < 1.025f, qPrintable(QString::number(highest)));

        filter.setPreset(preset);
        const int settle = 4000;
        const int cycles = 40;
        const int length = int(std::lround(cycles / corner));
        double s = 0.0, c = 0.0;
        for (int tick = 0; tick < settle + length; ++tick) {
            const double phase = 2.0 * std::numbers::pi * corner * tick;
            const double y = filter.process(float(std::sin(phase)));
            if (tick >= settle) {
                s += y * std::sin(phase);
                c += y * std::cos(phase);
            }
        }
        const double gainDb = 20.0 * std::log10(2.0 * std::hypot(s, c) / length);
        QVERIFY2(std::abs(gainDb + 3.01) < 0.1, qPrintable(QString::number(gainDb)));
    }

    void complexFilterAndNaN()
    {
        Filter::BesselLPF<Complex> filter;
        filter.setPreset(2);
        Complex y;
        for (int i = 0; i < 500; ++i)
            y = filter.process(Complex(1.0f, -2.0f));
        QVERIFY(std::abs(y.re - 1.0f) < 0.004f && std::abs(y.im + 2.0f) < 0.008f);
        const Complex held = filter.process(Complex(std::nanf(""), 0.0f));
        QCOMPARE(held, y);
        QCOMPARE(filter.process(Complex(0.0f, std::nanf(""))), y);

        Filter::BesselLPF<float> scalar;
        scalar.process(4.0f);
        const float last = scalar.process(4.0f);
        QCOMPARE(scalar.process(std::nanf("")), last);
        // A NaN changes nothing: the next step is the one that would have followed.
        Filter::BesselLPF<float> twin;
        twin.process(4.0f);
        twin.process(4.0f);
        QCOMPARE(scalar.process(4.0f), twin.process(4.0f));
    }

    void presetChangeClearsHistory()
    {
        Filter::BesselLPF<float> filter;
        for (int i = 0; i < 100; ++i)
            filter.process(1.0f);
        filter.setPreset(1);
        QCOMPARE(filter.process(1.0f), 1.0f / 5908.17334f);
        filter.setPreset(7);  // no such preset: the coefficients stay, the history goes
        QCOMPARE(filter.process(1.0f), 1.0f / 5908.17334f);
        filter.clear();
        QCOMPARE(filter.process(0.0f), 0.0f);
    }

    void identicalSignalsAreCoherent()
    {
        SpectraSource source(256);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(128);
        std::vector<BinRecord> records(128);
        source.tick(1.0, 0.0);
        coherence.process(records, source.transform);
        for (std::size_t i = 1; i < records.size(); ++i)
            QVERIFY2(std::abs(records[i].coherence - 1.0f) < 1e-5f,
                     qPrintable(QString::number(records[i].coherence)));
    }

    // Magnitude coherence of d = a·r + b·n (n independent of r) is a / sqrt(a² + b²); with 21
    // ticks the estimate is biased up a little, most for independent signals, where its mean
    // is about sqrt(π/(4·21)) ≈ 0.19.
    void coherenceOfNoise_data()
    {
        QTest::addColumn<double>("common");
        QTest::addColumn<double>("own");
        QTest::addColumn<double>("expected");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("independent") << 0.0 << 1.0 << std::sqrt(std::numbers::pi / 84.0) << 0.04;
        QTest::newRow("half the power shared") << 1.0 << 1.0 << std::sqrt(0.5) << 0.04;
        QTest::newRow("mostly shared") << 1.0 << 0.25 << 1.0 / std::sqrt(1.0625) << 0.02;
    }

    void coherenceOfNoise()
    {
        QFETCH(double, common);
        QFETCH(double, own);
        QFETCH(double, expected);
        QFETCH(double, tolerance);
        SpectraSource source(512);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(256);
        std::vector<BinRecord> records(256);
        for (int tick = 0; tick < 21; ++tick) {
            source.tick(common, own);
            coherence.process(records, source.transform);
        }
        const double mean = meanCoherence(records);
        QVERIFY2(std::abs(mean - expected) < tolerance,
                 qPrintable(QStringLiteral("%1, expected %2").arg(mean).arg(expected)));
        QVERIFY(allWithinUnitRange(records));
    }

    void silentReferenceHasNoCoherence()
    {
        SpectraSource source(256);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(128);
        std::vector<BinRecord> records(128);
        for (int tick = 0; tick < 3; ++tick) {
            source.tick(1.0, 1.0, 0.0);
            coherence.process(records, source.transform);
        }
        for (const BinRecord& r : records)
            QCOMPARE(r.coherence, 0.0f);
    }

    // After a long loud, fully coherent stretch the level drops by 80 dB to independent noise:
    // once the ring has turned over, the coherence must read that of the new signals, not a
    // stale 1 (or more) left behind by rounding in running sums.
    void coherenceFollowsALevelDrop_data()
    {
        QTest::addColumn<double>("referenceAfter");
        QTest::addColumn<double>("expected");
        QTest::newRow("both channels drop") << 1e-4 << std::sqrt(std::numbers::pi / 84.0);
        QTest::newRow("measurement drops only") << 1.0 << std::sqrt(std::numbers::pi / 84.0);
    }

    void coherenceFollowsALevelDrop()
    {
        QFETCH(double, referenceAfter);
        QFETCH(double, expected);
        SpectraSource source(256);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(128);
        std::vector<BinRecord> records(128);
        for (int tick = 0; tick < 300; ++tick) {
            source.tick(1.0, 0.0, 1.0, 1.0);
            coherence.process(records, source.transform);
        }
        for (int tick = 0; tick < 21; ++tick) {
            source.tick(0.0, 1.0, referenceAfter, 1e-4);
            coherence.process(records, source.transform);
            QVERIFY(allWithinUnitRange(records));
        }
        const double mean = meanCoherence(records);
        QVERIFY2(std::abs(mean - expected) < 0.05,
                 qPrintable(QStringLiteral("%1, expected %2").arg(mean).arg(expected)));
    }

    // A non-finite spectrum counts as silence in the ring, so the estimate recovers as soon as
    // it has turned over instead of reading 0 until the next size change.
    void nonFiniteTickIsForgotten()
    {
        SpectraSource source(256);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(128);
        std::vector<BinRecord> records(128);
        source.transform.add(std::nanf(""), 1.0f);
        source.transform.calculate();
        coherence.process(records, source.transform);
        QVERIFY(allWithinUnitRange(records));
        for (int tick = 0; tick < 21; ++tick) {
            source.tick(1.0, 0.0);
            coherence.process(records, source.transform);
        }
        QVERIFY(std::abs(meanCoherence(records) - 1.0) < 1e-5);
    }

    void writesOnlyTheCoherenceField()
    {
        SpectraSource source(64);
        Coherence coherence;
        coherence.setDepth(21);
        coherence.setSize(32);
        std::vector<BinRecord> records(32);
        for (BinRecord& r : records)
            r = {1, 2, 3, 4, 5, -1, 7, 8};
        source.tick(1.0, 0.0);
        coherence.process(records, source.transform);
        QCOMPARE(records[5].frequency, 1.0f);
        QCOMPARE(records[5].mean, 8.0f);
        QVERIFY(records[5].coherence > 0.99f);
    }
};

SNT_TEST_MAIN(EstimatorsTest)
#include "EstimatorsTest.moc"
