#include "engine/dsp/BesselBank.h"
#include "engine/dsp/BesselLPF.h"
#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Coherence.h"
#include "engine/dsp/FourierTransform.h"
#include "tests/engine/EngineChecks.h"
#include "tests/support/TestMain.h"

#include <algorithm>
#include <array>
#include <random>

namespace {

// Coherence over the spectra of two noise blocks per tick: data = a·common + b·own,
// reference = common, each channel with its own scale.
class CoherenceRig
{
public:
    explicit CoherenceRig(quint32 size)
        : transform(size)
        , records(size / 2)
        , generator(42)
    {
        transform.setWindowType(WindowFunction::Hann);
        transform.prepare();
        coherence.setDepth(21);
        coherence.setSize(size / 2);
    }

    void run(int ticks, double common, double own, double referenceScale = 1.0,
             double dataScale = 1.0)
    {
        std::normal_distribution<double> noise(0.0, 1.0);
        for (int tick = 0; tick < ticks; ++tick) {
            for (quint32 i = 0; i < transform.size(); ++i) {
                const double c = noise(generator);
                transform.add(float(dataScale * (common * c + own * noise(generator))),
                              float(referenceScale * c));
            }
            transform.calculate();
            coherence.process(records, transform);
            for (const BinRecord &r : records)
                inUnitRange = inUnitRange && r.coherence >= 0.0f && r.coherence <= 1.0f;
        }
    }

    double meanCoherence() const
    {
        double sum = 0.0;
        for (std::size_t i = 1; i < records.size(); ++i)
            sum += records[i].coherence;
        return sum / double(records.size() - 1);
    }

    FourierTransform transform;
    Coherence coherence;
    std::vector<BinRecord> records;
    std::mt19937 generator;
    bool inUnitRange = true;
};

// Mean magnitude coherence of independent signals over 21 ticks.
const double independent = std::sqrt(std::numbers::pi / 84.0);

} // namespace

class EstimatorsTest : public QObject
{
    Q_OBJECT

private slots:
    // Against the properties of a fifth-order Bessel low-pass with its −3 dB corner at fc (in
    // ticks): unit DC gain, −3 dB at fc, a step that crosses one half after about the DC group
    // delay 2.4274 / (2π·fc) ticks, and a step overshoot of a few per cent at most (a
    // Butterworth of the same order overshoots by about 13 %). Smaller presets smooth more.
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
        float highest = 0.0f, y = 0.0f;
        for (int tick = 0; tick < 3000; ++tick) {
            y = filter.process(1.0f);
            if (halfway < 0 && y >= 0.5f)
                halfway = tick + 1;
            highest = std::max(highest, y);
        }
        const double delay = 2.4274 / (snt::test::twoPi * corner);
        QVERIFY2(std::abs(halfway - delay) < 0.1 * delay + 1.0,
                 qPrintable(QStringLiteral("%1 ticks, expected about %2").arg(halfway).arg(delay)));
        QVERIFY2(highest < 1.025f && std::abs(y - 1.0f) < 0.002f,
                 qPrintable(QStringLiteral("%1, settled at %2").arg(highest).arg(y)));
        filter.setPreset(preset);
        const double gainDb = snt::test::sineGainDb(filter, corner, 4000, 40);
        QVERIFY2(std::abs(gainDb + 3.01) < 0.1, qPrintable(QString::number(gainDb)));
    }

    // A NaN input changes nothing: the output holds and the next step is the one that would
    // have followed. A preset change (even to one that does not exist) clears the history.
    void besselHistory()
    {
        Filter::BesselLPF<Complex> filter;
        filter.setPreset(2);
        Complex y;
        for (int i = 0; i < 500; ++i)
            y = filter.process(Complex(1.0f, -2.0f));
        QVERIFY(std::abs(y.re - 1.0f) < 0.004f && std::abs(y.im + 2.0f) < 0.008f);
        QCOMPARE(filter.process(Complex(std::nanf(""), 0.0f)), y);
        QCOMPARE(filter.process(Complex(0.0f, std::nanf(""))), y);

        Filter::BesselLPF<float> scalar, twin, fresh;
        float last = 0.0f;
        for (int i = 0; i < 2; ++i) {
            last = scalar.process(4.0f);
            twin.process(4.0f);
        }
        QCOMPARE(scalar.process(std::nanf("")), last);
        QCOMPARE(scalar.process(4.0f), twin.process(4.0f));
        fresh.setPreset(1);
        const float first = fresh.process(1.0f);
        scalar.setPreset(1);
        QCOMPARE(scalar.process(1.0f), first);
        scalar.setPreset(7);
        QCOMPARE(scalar.process(1.0f), first);
    }

    // A bank of filters run a block at a time is each filter alone: the recurrence written out
    // here, step by step, with a NaN in one channel holding that filter (and only it) as it was.
    void bankFiltersRunAsFiltersOfTheirOwn()
    {
        constexpr quint32 filters = 300;
        constexpr int ticks = 40;
        constexpr float gain = 350.802368f; // preset 2
        constexpr float c[5]
                = {0.0448577888f, -0.369009912f, 1.27194595f, -2.32192183f, 2.28290844f};
        Filter::BesselBank bank(2);
        bank.resize(filters);
        bank.setPreset(2);
        std::vector<std::array<std::array<float, 6>, 2>> x(filters), y(filters);
        std::mt19937 generator(5);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        std::vector<float> re(filters), im(filters), outRe(filters), outIm(filters);
        for (int tick = 0; tick < ticks; ++tick) {
            for (quint32 i = 0; i < filters; ++i) {
                re[i] = noise(generator);
                im[i] = (i + tick) % 37 == 0 ? std::nanf("") : noise(generator);
            }
            bank.beginTick();
            // Blocks of uneven lengths, as a caller's passes may cut them.
            for (quint32 from = 0; from < filters;) {
                const quint32 count = std::min(filters - from, 1 + (from * 7 + tick) % 61);
                const float *input[] = {re.data() + from, im.data() + from};
                float *output[] = {outRe.data() + from, outIm.data() + from};
                bank.process(from, count, input, output);
                from += count;
            }
            for (quint32 i = 0; i < filters; ++i) {
                const bool hold = std::isnan(re[i]) || std::isnan(im[i]);
                for (int channel = 0; channel < 2; ++channel) {
                    auto &in = x[i][channel];
                    auto &out = y[i][channel];
                    const float expected = hold ? out[0] : [&] {
                        const float v = (channel == 0 ? re[i] : im[i]) / gain;
                        const float feedForward = v + in[0] * 5.0f + in[1] * 10.0f + in[2] * 10.0f
                                                  + in[3] * 5.0f + in[4];
                        const float feedBack = out[4] * c[0] + out[3] * c[1] + out[2] * c[2]
                                               + out[1] * c[3] + out[0] * c[4];
                        std::rotate(in.rbegin(), in.rbegin() + 1, in.rend());
                        std::rotate(out.rbegin(), out.rbegin() + 1, out.rend());
                        in[0] = v;
                        out[0] = feedForward + feedBack;
                        return out[0];
                    }();
                    const float got = channel == 0 ? outRe[i] : outIm[i];
                    QVERIFY2(got == expected || (std::isnan(got) && std::isnan(expected)),
                             qPrintable(QStringLiteral("tick %1 filter %2: %3 vs %4")
                                                .arg(tick)
                                                .arg(i)
                                                .arg(got)
                                                .arg(expected)));
                }
            }
        }
    }

    // A settled filter reads a steady input at once as a filter that has taken it for a long
    // time does (within a thousandth: the two settle on float roundings of their own), and stays
    // there; one with a NaN among its inputs is left as it was, here fresh, and rises from
    // nothing.
    void settledBankStartsAtTheLevel()
    {
        constexpr quint32 filters = 3;
        const std::array<float, filters> re{4.0f, -0.5f, 2.0f}, im{1.0f, 3.0f, std::nanf("")};
        Filter::BesselBank settled(2), longRun(2);
        for (Filter::BesselBank *bank : {&settled, &longRun})
            bank->resize(filters);
        std::array<float, filters> outRe{}, outIm{}, longRe{}, longIm{};
        const float *input[] = {re.data(), im.data()};
        float *output[] = {outRe.data(), outIm.data()};
        float *longOutput[] = {longRe.data(), longIm.data()};
        for (int tick = 0; tick < 3000; ++tick) {
            longRun.beginTick();
            longRun.process(0, 2, input, longOutput);
        }
        settled.beginTick();
        settled.settle(0, filters, input);
        for (int tick = 0; tick < 50; ++tick) {
            if (tick > 0)
                settled.beginTick();
            settled.process(0, filters, input, output);
            for (quint32 i = 0; i < 2; ++i) {
                QVERIFY2(std::abs(outRe[i] / longRe[i] - 1.0f) < 1e-3f
                                 && std::abs(outIm[i] / longIm[i] - 1.0f) < 1e-3f,
                         qPrintable(QString("tick %1 filter %2: %3, %4 against %5, %6")
                                            .arg(tick)
                                            .arg(i)
                                            .arg(outRe[i])
                                            .arg(outIm[i])
                                            .arg(longRe[i])
                                            .arg(longIm[i])));
            }
        }
        QCOMPARE(outRe[2], 0.0f);
        Filter::BesselLPF<float> fresh;
        const float *steady[] = {re.data(), re.data()};
        settled.beginTick();
        settled.process(0, filters, steady, output);
        QCOMPARE(outRe[2], fresh.process(2.0f));
    }

    // Magnitude coherence of d = a·r + b·n (n independent of r) is a / sqrt(a² + b²); with 21
    // ticks the estimate is biased up a little, most for independent signals, where its mean
    // is about sqrt(π/(4·21)) ≈ 0.19. A silent reference gives no coherence at all.
    void coherenceOfNoise_data()
    {
        QTest::addColumn<double>("common");
        QTest::addColumn<double>("own");
        QTest::addColumn<double>("referenceScale");
        QTest::addColumn<double>("expected");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("identical") << 1.0 << 0.0 << 1.0 << 1.0 << 1e-5;
        QTest::newRow("independent") << 0.0 << 1.0 << 1.0 << independent << 0.04;
        QTest::newRow("half the power shared") << 1.0 << 1.0 << 1.0 << std::sqrt(0.5) << 0.04;
        QTest::newRow("mostly shared") << 1.0 << 0.25 << 1.0 << 1.0 / std::sqrt(1.0625) << 0.02;
        QTest::newRow("silent reference") << 1.0 << 1.0 << 0.0 << 0.0 << 0.0;
    }

    void coherenceOfNoise()
    {
        QFETCH(double, common);
        QFETCH(double, own);
        QFETCH(double, referenceScale);
        QFETCH(double, expected);
        QFETCH(double, tolerance);
        CoherenceRig rig(512);
        for (BinRecord &r : rig.records)
            r.frequency = 7.0f; // only the coherence field is written
        rig.run(21, common, own, referenceScale);
        const double mean = rig.meanCoherence();
        QVERIFY2(std::abs(mean - expected) <= tolerance,
                 qPrintable(QStringLiteral("%1, expected %2").arg(mean).arg(expected)));
        QVERIFY(rig.inUnitRange);
        QCOMPARE(rig.records[5].frequency, 7.0f);
    }

    // After a long loud, fully coherent stretch the level drops by 80 dB to independent noise:
    // once the ring has turned over, the coherence must read that of the new signals, not a
    // stale 1 (or more) left behind by rounding in running sums.
    void coherenceFollowsALevelDrop_data()
    {
        QTest::addColumn<double>("referenceAfter");
        QTest::newRow("both channels drop") << 1e-4;
        QTest::newRow("measurement drops only") << 1.0;
    }

    void coherenceFollowsALevelDrop()
    {
        QFETCH(double, referenceAfter);
        CoherenceRig rig(256);
        rig.run(300, 1.0, 0.0);
        rig.run(21, 0.0, 1.0, referenceAfter, 1e-4);
        QVERIFY(rig.inUnitRange);
        QVERIFY2(std::abs(rig.meanCoherence() - independent) < 0.05,
                 qPrintable(QString::number(rig.meanCoherence())));
    }

    // The running sums read what sums formed afresh over the last 21 ticks read, to float
    // rounding: through a long loud stretch followed by one 160 dB quieter (whose powers are far
    // below the rounding of the loud sums), and through levels that jump from tick to tick. Both
    // when the bins are stored one by one and when all are stored as one block (where the bins
    // whose turn it is are summed afresh side by side).
    void runningSumsAgreeWithSumsFormedAfresh()
    {
        constexpr quint32 bins = 96;
        constexpr int depth = 21;
        Coherence coherence, blockwise;
        for (Coherence *c : {&coherence, &blockwise}) {
            c->setDepth(depth);
            c->setSize(bins);
        }
        std::vector<BinRecord> records(bins);
        std::array<std::array<float, bins>, 4> block;
        std::array<float, bins> blockCoherence;
        std::mt19937 generator(11);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        std::uniform_int_distribution<int> level(-60, 60);
        std::vector<std::vector<Coherence::BandSums>> history(bins);
        double worst = 0.0;
        for (int tick = 0; tick < 400; ++tick) {
            const float scale = tick < 100   ? 1e4f
                                : tick < 200 ? 1e-4f
                                             : std::pow(10.0f, float(level(generator)) / 20.0f);
            coherence.process(records, [&](quint32 i) {
                const Complex r(scale * noise(generator), scale * noise(generator));
                const Complex d = r * 0.7f + Complex(noise(generator), noise(generator)) * scale;
                const Coherence::BandSums sums{r.norm(), d.norm(), r.conj() * d};
                history[i].push_back(sums);
                block[0][i] = sums.reference;
                block[1][i] = sums.data;
                block[2][i] = sums.cross.re;
                block[3][i] = sums.cross.im;
                return sums;
            });
            blockwise.beginTick();
            blockwise.store(0, bins, block[0].data(), block[1].data(), block[2].data(),
                            block[3].data(), blockCoherence.data());
            for (quint32 i = 0; i < bins; ++i) {
                double reference = 0.0, data = 0.0, crossRe = 0.0, crossIm = 0.0;
                const std::size_t first
                        = history[i].size() - std::min<std::size_t>(history[i].size(), depth);
                for (std::size_t k = first; k < history[i].size(); ++k) {
                    reference += history[i][k].reference;
                    data += history[i][k].data;
                    crossRe += history[i][k].cross.re;
                    crossIm += history[i][k].cross.im;
                }
                const double expected = std::hypot(crossRe, crossIm) / std::sqrt(reference * data);
                worst = std::max({worst, std::abs(records[i].coherence - expected),
                                  std::abs(blockCoherence[i] - expected)});
            }
        }
        QVERIFY2(worst < 1e-6, qPrintable(QString::number(worst)));
    }

    // A non-finite spectrum counts as silence in the ring: the estimate reads the good ticks at
    // once instead of 0 for as long as the bad one stays in the ring.
    void nonFiniteTickIsForgotten()
    {
        CoherenceRig rig(256);
        rig.run(1, 1.0, 0.0, 1.0, std::nan(""));
        rig.run(5, 1.0, 0.0);
        QVERIFY(rig.inUnitRange);
        QVERIFY(std::abs(rig.meanCoherence() - 1.0) < 1e-5);
    }
};

SNT_TEST_MAIN(EstimatorsTest)
#include "EstimatorsTest.moc"
