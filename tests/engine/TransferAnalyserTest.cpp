#include "engine/tf/TransferAnalyser.h"
#include "SignalTools.h"
#include "engine/dsp/Meter.h"
#include "engine/tf/BinMeters.h"
#include "tests/support/TestMain.h"

#include <algorithm>
#include <random>

using namespace signaltest;

namespace {

constexpr double rate = 48000.0;

// Pushes the pairs and analyses once: the transform sees the last of them.
void pushAndAnalyse(TransferAnalyser &analyser, const std::vector<double> &data,
                    const std::vector<double> &reference)
{
    for (std::size_t k = 0; k < data.size(); ++k)
        analyser.push(float(data[k]), float(reference[k]));
    analyser.analyse();
}

// The first bin whose magnitude, phase or coherence is off the path's response, or empty. Bins
// where the noise stimulus is close to silent by chance carry little but rounding and are left out.
QString mismatch(const TransferAnalyser &analyser, const Path &path, double tolerance,
                 double phaseTolerance)
{
    const uint32_t size = analyser.size();
    std::vector<float> stimulus;
    for (const BinRecord &record : analyser.records())
        stimulus.push_back(record.amplitude / record.magnitude);
    std::vector<float> sorted(stimulus.begin() + 1, stimulus.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    for (uint32_t bin = 1; bin < size / 2; ++bin) {
        if (stimulus[bin] < 0.1f * sorted[sorted.size() / 2])
            continue;
        const BinRecord &record = analyser.records()[bin];
        const auto expected = path.response(2.0 * std::numbers::pi * bin / size);
        const std::complex<double> phasor(record.phaseRe, record.phaseIm);
        if (std::abs(record.magnitude / std::abs(expected) - 1.0) >= tolerance
            || std::abs(phasor - expected / std::abs(expected)) >= phaseTolerance
            || record.coherence < 0.999f)
            return QString("bin %1: %2").arg(bin).arg(record.magnitude);
    }
    return {};
}

} // namespace

// The analysis alone, fed pairs directly: no application object, device or phone is involved.
class TransferAnalyserTest : public QObject
{
    Q_OBJECT

private slots:
    // The bins' meters, kept a row per tick, read what a meter of 100 values of its own reads,
    // to the bit: its running peak and mean, through silence, loud ticks and non-finite values.
    void binMetersReadAsMetersOfTheirOwn()
    {
        constexpr uint32_t bins = 50;
        BinMeters meters;
        meters.resize(bins, 100);
        std::vector<Meter> alone;
        for (uint32_t i = 0; i < bins; ++i)
            alone.emplace_back(quint64(100));
        std::mt19937 generator(3);
        std::exponential_distribution<float> level(1.0f);
        std::vector<float> values(bins), peak(bins), mean(bins);
        for (int tick = 0; tick < 260; ++tick) {
            for (uint32_t i = 0; i < bins; ++i) {
                values[i] = tick % 97 == 5 ? 1e6f : level(generator);
                if ((tick * 7 + i) % 83 == 0)
                    values[i] = std::nanf("");
            }
            meters.beginTick();
            meters.add(0, 20, values.data(), peak.data(), mean.data());
            meters.add(20, bins - 20, values.data() + 20, peak.data() + 20, mean.data() + 20);
            for (uint32_t i = 0; i < bins; ++i) {
                alone[i].add(values[i]);
                QCOMPARE(peak[i], float(alone[i].peak()));
                QCOMPARE(mean[i], float(alone[i].mean()));
            }
        }
    }

    void transferFunctionMatchesPath_data()
    {
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<double>("gain");
        QTest::addColumn<int>("pathDelay");
        QTest::addColumn<int>("delayProperty");
        QTest::addColumn<double>("eqGainDb");
        QTest::addColumn<bool>("periodic");
        QTest::newRow("1024, gain only") << 1024u << 0.5 << 0 << 0 << 0.0 << true;
        QTest::newRow("4096, 1 ms and +6 dB at 1 kHz") << 4096u << 0.5 << 48 << 0 << 6.0 << true;
        QTest::newRow("16384, 2.5 ms and -9 dB at 1 kHz")
                << 16384u << 2.0 << 120 << 0 << -9.0 << true;
        // More pairs arrive between two ticks than the transform holds, and the reference is
        // read 48 pairs back: the oldest pairs of the block need references from before it.
        QTest::newRow("1024, 1 ms aligned by the delay")
                << 1024u << 0.5 << 48 << 48 << 0.0 << false;
    }

    // Periodic noise whose period is the FFT size makes every block a whole period, so with the
    // rectangular window D/R equals the path's response exactly at every bin; so does any noise
    // through a pure gain once the reference is aligned with the delay.
    void transferFunctionMatchesPath()
    {
        QFETCH(uint32_t, size);
        QFETCH(double, gain);
        QFETCH(int, pathDelay);
        QFETCH(int, delayProperty);
        QFETCH(double, eqGainDb);
        QFETCH(bool, periodic);
        TransferAnalyser analyser(size, uint32_t(rate));
        analyser.setWindow(WindowFunction::Rectangular);
        analyser.setAverageType(0);
        analyser.setDelay(delayProperty);
        const Path path{gain, pathDelay, Biquad::peaking(1000.0, eqGainDb, 1.0, rate)};
        const auto reference = whiteNoise(4 * size, 0.5, 7, periodic ? size : 0);
        pushAndAnalyse(analyser, path.apply(reference, periodic ? size : 0), reference);
        const Path seen{gain, pathDelay - delayProperty, path.bq};
        const QString off = mismatch(analyser, seen, 1e-3, 2e-3);
        QVERIFY2(off.isEmpty(), qPrintable(off));
        const auto peak = std::max_element(
                analyser.impulse().begin(), analyser.impulse().end(),
                [](auto &a, auto &b) { return std::abs(a.value.re) < std::abs(b.value.re); });
        QCOMPARE(peak->timeMs, float((pathDelay - delayProperty) * 1000.0 / rate));
    }

    // The smoothing a session measures with (16384 points, Hann window, per-bin Bessel
    // smoothing, preset 0) reads the path's level as soon as the transform holds a block of the
    // run, however many ticks came before the point is taken: a busy machine gives a run of
    // two seconds fewer ticks than a quiet one, and the points of one path must not differ by
    // it. The sound comes in after a moment of silence, as it does through a device, and a
    // reset (as after a dropout or a re-pairing) starts the level afresh from the next block.
    void smoothedLevelDoesNotDependOnTheTicks_data()
    {
        QTest::addColumn<int>("silentTicks");
        QTest::addColumn<int>("ticks");
        QTest::newRow("a busy machine's few ticks") << 0 << 6;
        QTest::newRow("a quiet machine's two seconds") << 0 << 25;
        QTest::newRow("sound after four silent ticks") << 4 << 10;
    }

    void smoothedLevelDoesNotDependOnTheTicks()
    {
        QFETCH(int, silentTicks);
        QFETCH(int, ticks);
        constexpr uint32_t size = 16384;
        constexpr std::size_t tick = 3840; // 80 ms at 48 kHz
        TransferAnalyser analyser(size, uint32_t(rate));
        analyser.setAverageType(1);
        analyser.setFilterPreset(0);
        const Path path{1.0, 0, Biquad::peaking(1000.0, 6.0, 1.4, rate)};
        const auto reference = whiteNoise(tick * std::size_t(2 * ticks), 0.3, 17);
        const auto data = path.apply(reference);
        const auto feed = [&](int count, std::size_t from, bool silent) {
            for (int t = 0; t < count; ++t) {
                for (std::size_t k = from + std::size_t(t) * tick;
                     k < from + std::size_t(t + 1) * tick; ++k)
                    analyser.push(silent ? 0.0f : float(data[k]),
                                  silent ? 0.0f : float(reference[k]));
                analyser.analyse();
            }
        };
        // Mean level over a sixth of an octave around f, read and expected.
        const auto bandOff = [&](double f) {
            double read = 0.0, expected = 0.0;
            int bins = 0;
            for (const BinRecord &record : analyser.records()) {
                if (std::abs(std::log2(record.frequency / f)) > 1.0 / 12.0)
                    continue;
                read += 20.0 * std::log10(double(record.magnitude));
                expected += 20.0
                            * std::log10(std::abs(path.response(2.0 * std::numbers::pi
                                                                * record.frequency / rate)));
                ++bins;
            }
            return (read - expected) / bins;
        };
        feed(silentTicks, 0, true);
        feed(ticks, 0, false);
        for (const double f : {200.0, 1000.0, 5000.0})
            QVERIFY2(std::abs(bandOff(f)) < 0.2,
                     qPrintable(QString("%1 Hz: %2 dB off after %3 ticks")
                                        .arg(f)
                                        .arg(bandOff(f))
                                        .arg(ticks)));
        analyser.resetAverage();
        feed(6, tick * std::size_t(ticks), false);
        QVERIFY2(std::abs(bandOff(1000.0)) < 0.2,
                 qPrintable(QString("%1 dB off after a reset").arg(bandOff(1000.0))));
    }

    // The estimate looks at the pairs as they came, whatever the delay property.
    void delayEstimate_data()
    {
        QTest::addColumn<int>("pathDelay");
        QTest::newRow("measurement lags 48 pairs") << 48;
        QTest::newRow("measurement leads 36 pairs") << -36;
    }

    void delayEstimate()
    {
        QFETCH(int, pathDelay);
        TransferAnalyser analyser(16384, uint32_t(rate));
        analyser.setDelay(pathDelay);
        const auto reference = whiteNoise(70000, 0.3, 11);
        pushAndAnalyse(analyser, Path{1.0, pathDelay, {}}.apply(reference), reference);
        analyser.estimateDelay();
        QCOMPARE(analyser.delayPairs(), int64_t(pathDelay));
    }

    // The lag the sound shows, without touching the published estimate: the path's delay when
    // the recording is the reference through the path, none when it is noise of its own.
    void heardLagOnlyWhereTheSoundShowsOne()
    {
        TransferAnalyser analyser(16384, uint32_t(rate));
        const auto reference = whiteNoise(70000, 0.3, 13);
        pushAndAnalyse(analyser,
                       Path{0.5, 48, Biquad::peaking(1000.0, 6.0, 1.0, rate)}.apply(reference),
                       reference);
        QCOMPARE(analyser.heardLag(), std::optional<int64_t>(48));
        QCOMPARE(analyser.delayPairs(), int64_t(0));
        pushAndAnalyse(analyser, whiteNoise(70000, 0.3, 14), whiteNoise(70000, 0.3, 15));
        QCOMPARE(analyser.heardLag(), std::nullopt);
    }

    void calibrationScalesEachBin()
    {
        // Microphone: 0 dB up to 100 Hz, 10 dB from 1 kHz, linear over log frequency between;
        // reference: +6 dB. A microphone that reads high is divided out, a reference multiplied.
        const auto curve = [](QList<CalCurve::Point> points) {
            auto c = std::make_shared<CalCurve>();
            c->setPoints(points);
            return c;
        };
        TransferAnalyser analyser(4096, uint32_t(rate));
        analyser.setWindow(WindowFunction::Rectangular);
        analyser.setAverageType(0);
        QVERIFY(analyser.setCalibration(curve({{100, 0}, {1000, 10}}),
                                        curve({{20, 6.0206f}, {20000, 6.0206f}})));
        const auto period = whiteNoise(2 * 4096, 0.5, 41, 4096);
        pushAndAnalyse(analyser, period, period);
        for (uint32_t bin = 1; bin < 2048; ++bin) {
            const double f = analyser.records()[bin].frequency;
            const double micDb = 10.0 * std::clamp(std::log10(f / 100.0), 0.0, 1.0);
            const double expected = std::pow(10.0, (6.0206 - micDb) / 20.0);
            QVERIFY2(
                    std::abs(analyser.records()[bin].magnitude / expected - 1.0) < 1e-4,
                    qPrintable(QString("%1 Hz: %2").arg(f).arg(analyser.records()[bin].magnitude)));
        }
        QVERIFY(!analyser.setCalibration(nullptr, std::make_shared<CalCurve>()));
    }
};

SNT_TEST_MAIN(TransferAnalyserTest)
#include "TransferAnalyserTest.moc"
