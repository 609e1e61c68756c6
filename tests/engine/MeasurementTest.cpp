#include "audio/AudioInput.h"
#include "audio/AudioStreamServer.h"
#include "audio/Client.h"
#include "audio/Stream.h"
#include "engine/CalCurve.h"
#include "engine/tf/Measurement.h"
#include "tests/engine/MeasurementSignals.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QHostAddress>
#include <QPointF>
#include <QSignalSpy>
#include <QWebSocket>
#include <algorithm>
#include <cmath>
#include <limits>

using namespace snt::test;

namespace {

constexpr double rate = 48000.0;
constexpr int blockFrames = 480;
// A device the audio client does not know: the front end stays closed and only the blocks the
// test writes reach the measurement.
const QString absentDevice = QStringLiteral("no-such-card");

std::shared_ptr<LoopbackCard> card;

double omegaOfBin(uint32_t bin, uint32_t size)
{
    return 2.0 * std::numbers::pi * bin / size;
}

float phaseError(const BinRecord& record, std::complex<double> expected)
{
    const std::complex<double> unit = expected / std::abs(expected);
    return float(std::abs(std::complex<double>(record.phaseRe, record.phaseIm) - unit));
}

// The reference amplitude of every bin, as the records carry it (amplitude / magnitude), and a
// test that keeps the bins where the noise stimulus is not close to silent by chance: there the
// ratio carries little but rounding.
class Excitation {
public:
    explicit Excitation(const Measurement& m)
    {
        for (const BinRecord& record : m.records())
            amplitudes_.push_back(record.amplitude / record.magnitude);
        std::vector<float> sorted(amplitudes_.begin() + 1, amplitudes_.end());
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        median_ = sorted[sorted.size() / 2];
    }
    bool enough(uint32_t bin) const { return amplitudes_[bin] > 0.1f * median_; }

private:
    std::vector<float> amplitudes_;
    float median_ = 0.0f;
};

// Index of the impulse point with the largest magnitude.
qsizetype impulsePeak(const Measurement& m)
{
    const auto& points = m.impulse();
    const auto it = std::max_element(points.begin(), points.end(), [](auto& a, auto& b) {
        return std::abs(a.value.re) < std::abs(b.value.re);
    });
    return it - points.begin();
}

// A measurement that takes only synthetic blocks: FFT mode, averaging and window as given,
// reference from input channel 1.
std::unique_ptr<Measurement> synthetic(int mode, int averageType, int window)
{
    auto m = std::make_unique<Measurement>();
    m->setDeviceId(absentDevice);
    m->setMode(mode);
    m->setAverageType(averageType);
    m->setWindowFunction(window);
    QTest::ignoreMessage(QtWarningMsg, "AudioInput: Failed to open audio input!");
    m->setActive(true);
    return m;
}

void feed(Measurement& m, const std::vector<double>& data, const std::vector<double>& reference,
          std::size_t from, std::size_t count)
{
    for (std::size_t at = from; at < from + count; at += blockFrames) {
        const std::size_t n = std::min<std::size_t>(blockFrames, from + count - at);
        m.writeData(toFloats(data, at, n), toFloats(reference, at, n));
    }
}

void feedAll(Measurement& m, const std::vector<double>& data, const std::vector<double>& reference)
{
    feed(m, data, reference, 0, data.size());
}

}  // namespace

// The measurement against independent truths: an analytic path model for magnitude, phase and
// impulse, known RMS for the levels, hand-worked sequences for the four averages, and a real-time
// duplex test card for the whole chain from the sound card on.
class MeasurementTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] { return card; }}));
        QVERIFY(audio::Client::instance());
    }

    void cleanupTestCase() { card.reset(); }

    void propertiesCompareBeforeTheySignal()
    {
        auto m = synthetic(4, 1, 1);
        QSignalSpy gain(m.get(), &Measurement::gainChanged);
        m->setGain(1.0000005f);
        QCOMPARE(gain.count(), 0);
        m->setGain(1.00001f);
        QCOMPARE(gain.count(), 1);

        // The front end has no third channel and no loopback: both select its channel 0.
        m->setDataChannel(2);
        QCOMPARE(m->dataChannel(), 2);
        QCOMPARE(m->audioInput()->measurementChannel(), 0);
        m->setReferenceChannel(-1);
        QCOMPARE(m->audioInput()->referenceChannel(), 0);
    }

    void fftSizeFollowsMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("size");
        QTest::newRow("1024") << 0 << 1024;
        QTest::newRow("65536") << 6 << 65536;
        QTest::newRow("out of range keeps 16384") << 7 << 16384;
    }

    void fftSizeFollowsMode()
    {
        QFETCH(int, mode);
        QFETCH(int, size);
        Measurement m;
        QSignalSpy changed(&m, &Measurement::modeChanged);
        m.setMode(mode);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m.records().size(), std::size_t(size / 2));
        QCOMPARE(m.impulse().size(), std::size_t(size));
        const uint32_t bin = uint32_t(size / 2 - 1);
        QCOMPARE(m.records()[bin].frequency, float(bin * rate / size));
    }

    void transferFunctionMatchesPath_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("gain");
        QTest::addColumn<int>("delay");
        QTest::addColumn<double>("eqGainDb");
        QTest::newRow("1024, gain only") << 0 << 0.5 << 0 << 0.0;
        QTest::newRow("4096, 1 ms and +6 dB at 1 kHz") << 2 << 0.5 << 48 << 6.0;
        QTest::newRow("16384, 2.5 ms and -9 dB at 1 kHz") << 4 << 2.0 << 120 << -9.0;
    }

    // Periodic noise whose period is the FFT size makes every block a whole period, so with the
    // rectangular window D/R equals the path's response exactly at every bin.
    void transferFunctionMatchesPath()
    {
        QFETCH(int, mode);
        QFETCH(double, gain);
        QFETCH(int, delay);
        QFETCH(double, eqGainDb);
        auto m = synthetic(mode, 0, 0);
        const uint32_t size = m->fftSize();
        const Path path{gain, delay, Biquad::peaking(1000.0, eqGainDb, 1.0, rate)};
        const auto reference = repeated(whiteNoise(size, 0.5, 7), 4 * size);
        feedAll(*m, throughPath(reference, path, size), reference);
        m->transform();

        int checked = 0;
        const Excitation excitation(*m);
        for (uint32_t bin = 1; bin < size / 2; ++bin) {
            const BinRecord& record = m->records()[bin];
            if (!excitation.enough(bin))
                continue;
            const auto expected = path.response(omegaOfBin(bin, size));
            QVERIFY2(std::abs(record.magnitude / std::abs(expected) - 1.0) < 1e-3,
                     qPrintable(QString("bin %1: %2").arg(bin).arg(record.magnitude)));
            QVERIFY2(phaseError(record, expected) < 2e-3, qPrintable(QString("bin %1").arg(bin)));
            QVERIFY(record.coherence > 0.999f);
            ++checked;
        }
        QVERIFY(checked > int(size) / 2 * 9 / 10);
        // The impulse peaks at the path's delay.
        const qsizetype peak = impulsePeak(*m);
        QCOMPARE(m->impulse()[std::size_t(peak)].timeMs, float(delay * 1000.0 / rate));
    }

    void delayEstimate_data()
    {
        QTest::addColumn<int>("delay");
        QTest::addColumn<float>("expectedMs");
        QTest::newRow("measurement lags 48 samples") << 48 << 1.0f;
        QTest::newRow("measurement leads 36 samples") << -36 << -0.75f;
    }

    void delayEstimate()
    {
        QFETCH(int, delay);
        QFETCH(float, expectedMs);
        auto m = synthetic(4, 0, 1);
        const auto reference = whiteNoise(70000, 0.3, 11);
        feedAll(*m, throughPath(reference, Path{1.0, delay, {}}), reference);
        QSignalSpy estimated(m.get(), &Measurement::estimatedChanged);
        m->updateEstimate();
        QCOMPARE(estimated.count(), 1);
        QCOMPARE(estimated.first().first().toFloat(), expectedMs);
        QCOMPARE(m->estimatedDelayMs(), expectedMs);
        m->transform();
        QCOMPARE(m->impulse()[std::size_t(impulsePeak(*m))].timeMs, expectedMs);
    }

    void delayPropertyAlignsTheReference_data()
    {
        QTest::addColumn<int>("delay");
        QTest::newRow("10") << 10;
        // Any whole number of rings more or less reads the same pairs, at once.
        QTest::newRow("10 plus 2^30") << (1 << 30) + 10;
        QTest::newRow("10 minus a ring") << 10 - 4096;
    }

    void delayPropertyAlignsTheReference()
    {
        QFETCH(int, delay);
        auto m = synthetic(2, 0, 0);
        m->setDelay(delay);
        const auto reference = whiteNoise(3 * 4096, 0.5, 3);
        feedAll(*m, throughPath(reference, Path{1.0, 10, {}}), reference);
        m->transform();
        QCOMPARE(m->impulse()[std::size_t(impulsePeak(*m))].timeMs, 0.0f);
        // Aligned pairs have no phase shift; only the ten pairs at the ring's seam differ.
        QVERIFY(std::abs(m->records()[100].phaseRe - 1.0f) < 0.05f);
    }

    void levelsReadTheKnownRms()
    {
        auto m = synthetic(0, 0, 1);
        m->setOffset(2.0f);
        std::vector<double> data(48000), reference(48000);
        for (std::size_t n = 0; n < data.size(); ++n) {
            const double s = std::sin(2.0 * std::numbers::pi * 1000.0 * n / rate);
            data[n] = 0.5 * s;
            reference[n] = 0.125 * s;  // times the offset of 2
        }
        feedAll(*m, data, reference);
        QSignalSpy ready(m.get(), &Measurement::readyRead);
        m->transform();
        QCOMPARE(ready.count(), 1);
        const double rms = 20.0 * std::log10(0.5 / std::sqrt(2.0));
        QVERIFY(std::abs(m->level() - rms) < 0.01);
        QVERIFY(std::abs(m->referenceLevel() - (rms - 6.0206)) < 0.01);
        QVERIFY(std::abs(m->peak() - 20.0 * std::log10(0.5)) < 0.05);
        // A weighting is within 0.05 dB of flat at 1 kHz.
        QVERIFY(std::abs(m->splLevel() - rms) < 0.1);
    }

    void loopbackIsTheReference()
    {
        auto m = synthetic(0, 0, 0);
        m->setReferenceChannel(-1);
        m->setOffset(0.5f);
        const auto stimulus = repeated(whiteNoise(1024, 0.5, 5), 4096);
        const std::vector<double> ignored(stimulus.size(), 0.9);
        for (double x : stimulus)
            m->writeLoopbackSample(float(x));
        feedAll(*m, stimulus, ignored);
        m->transform();
        // measurement = stimulus, reference = offset · stimulus.
        for (uint32_t bin = 1; bin < 512; ++bin)
            QVERIFY(std::abs(m->records()[bin].magnitude - 2.0f) < 1e-3f);
        // Lags run from −(N/2 − 1) to N/2: lag 0 sits at N/2 − 1.
        QCOMPARE(impulsePeak(*m), qsizetype(511));
        const float msPerSample = 1000.0f / 48000.0f;
        QCOMPARE(m->impulse().front().timeMs, -511 * msPerSample);
        QCOMPARE(m->impulse().back().timeMs, 512 * msPerSample);
    }

    // Bad values inside the block being analysed and inside the delay finder's span: cleaned
    // where they enter, they cost one sample each instead of the whole spectrum.
    // A generator at 44100 Hz against an input at 48000 Hz: the loopback is resampled onto the
    // input's clock, so a tone reads the same on both sides.
    void slowerLoopbackIsResampled()
    {
        auto m = synthetic(0, 0, 1);
        m->setReferenceChannel(-1);
        m->setLoopbackSampleRate(44100);
        const double tone = 375.0;  // bin 8 of 1024 at 48000 Hz
        for (int n = 0; n < 44100; ++n) {
            const double t = n / 44100.0;
            m->writeLoopbackSample(float(0.5 * std::sin(2.0 * std::numbers::pi * tone * t)));
        }
        std::vector<double> input(48000);
        for (std::size_t n = 0; n < input.size(); ++n)
            input[n] = 0.5 * std::sin(2.0 * std::numbers::pi * tone * double(n) / rate);
        feedAll(*m, input, input);
        m->transform();
        const BinRecord& record = m->records()[8];
        QCOMPARE(record.frequency, float(tone));
        QVERIFY2(std::abs(record.magnitude - 1.0f) < 0.01f,
                 qPrintable(QString::number(record.magnitude)));
        QVERIFY(std::abs(record.phaseIm) < 0.01f);
    }

    void nonFiniteSamplesBecomeSilence_data()
    {
        QTest::addColumn<int>("referenceChannel");
        QTest::newRow("reference input") << 1;
        QTest::newRow("generator loopback") << -1;
    }

    void nonFiniteSamplesBecomeSilence()
    {
        QFETCH(int, referenceChannel);
        auto m = synthetic(2, 0, 1);
        m->setReferenceChannel(referenceChannel);
        const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
        auto reference = whiteNoise(70000, 0.5, 9);
        auto data = throughPath(reference, Path{1.0, 48, {}});
        for (int i = 0; i < 3; ++i) {
            data[69500 + i] = bad[i];
            reference[69700 + i] = bad[i];
        }
        if (referenceChannel == -1)
            for (double x : reference)
                m->writeLoopbackSample(float(x));
        feedAll(*m, data, reference);
        m->transform();
        m->updateEstimate();
        QCOMPARE(m->estimatedDelayMs(), 1.0f);
        for (float level : {m->level(), m->referenceLevel(), m->splLevel(), m->peak()})
            QVERIFY2(std::isfinite(level) && level > -20.0f, qPrintable(QString::number(level)));
        int closeToOne = 0;
        for (const BinRecord& record : m->records()) {
            QVERIFY(std::isfinite(record.magnitude) && std::isfinite(record.coherence));
            QVERIFY(std::isfinite(record.peak) && std::isfinite(record.mean));
            closeToOne += std::abs(record.magnitude - 1.0f) < 0.25f;
        }
        QVERIFY2(closeToOne > int(m->records().size()) * 3 / 4,
                 qPrintable(QString::number(closeToOne)));
        for (const ImpulsePoint& point : m->impulse())
            QVERIFY(std::isfinite(point.value.re));
    }

    void vanishedReferenceGivesZeroMagnitude_data()
    {
        QTest::addColumn<int>("averageType");
        QTest::newRow("none") << 0;
        QTest::newRow("smoothing") << 1;
    }

    void vanishedReferenceGivesZeroMagnitude()
    {
        QFETCH(int, averageType);
        auto m = synthetic(0, averageType, 1);
        const auto noise = whiteNoise(2048, 0.5, 13);
        feedAll(*m, noise, std::vector<double>(noise.size(), 0.0));
        m->transform();
        for (std::size_t bin = 1; bin < m->records().size(); ++bin)
            QCOMPARE(m->records()[bin].magnitude, 0.0f);
    }

    void averagesOfAStationarySignal_data()
    {
        QTest::addColumn<int>("averageType");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("none") << 0 << 1 << 1e-3;
        QTest::newRow("smoothing") << 1 << 300 << 5e-3;
        QTest::newRow("moving") << 2 << 20 << 1e-3;
        QTest::newRow("cumulative") << 3 << 20 << 1e-3;
    }

    void averagesOfAStationarySignal()
    {
        QFETCH(int, averageType);
        QFETCH(int, ticks);
        QFETCH(double, tolerance);
        auto m = synthetic(0, averageType, 0);
        m->setAverage(8);
        const uint32_t size = m->fftSize();
        const Path path{0.5, 5, Biquad::peaking(3000.0, 6.0, 2.0, rate)};
        const auto reference = repeated(whiteNoise(size, 0.5, 17), (ticks + 4) * size);
        const auto data = throughPath(reference, path, size);
        feed(*m, data, reference, 0, 3 * size);
        m->resetAverage();
        for (int t = 0; t < ticks; ++t) {
            feed(*m, data, reference, (3 + t) * size, size);
            m->transform();
        }
        const Excitation excitation(*m);
        int checked = 0;
        for (uint32_t bin = 1; bin < size / 2; ++bin) {
            const BinRecord& record = m->records()[bin];
            if (!excitation.enough(bin))
                continue;
            ++checked;
            const auto expected = path.response(omegaOfBin(bin, size));
            QVERIFY2(std::abs(record.magnitude / std::abs(expected) - 1.0) < tolerance,
                     qPrintable(QString("bin %1: %2 against %3")
                                    .arg(bin)
                                    .arg(record.magnitude)
                                    .arg(std::abs(expected))));
            QVERIFY(phaseError(record, expected) < 10 * tolerance);
        }
        QVERIFY(checked > int(size) / 2 * 9 / 10);
    }

    void averagesOfAChangingSignal_data()
    {
        QTest::addColumn<int>("averageType");
        QTest::addColumn<QList<float>>("expected");
        const QList<float> gains{1, 2, 3, 4, 5, 6};
        QTest::newRow("none") << 0 << gains;
        QTest::newRow("moving, depth 4") << 2 << QList<float>{1, 1.5f, 2, 2.5f, 3.5f, 4.5f};
        QTest::newRow("cumulative") << 3 << QList<float>{1, 1.5f, 2, 2.5f, 3, 3.5f};
        // A fresh fifth-order smoother passes x / 132731.3125 on its first step.
        QTest::newRow("smoothing, first step") << 1 << QList<float>{1.0f / 132731.3125f};
    }

    // Each tick sees a whole period at a new gain: the records show how each average weighs
    // the ticks.
    void averagesOfAChangingSignal()
    {
        QFETCH(int, averageType);
        QFETCH(QList<float>, expected);
        auto m = synthetic(0, averageType, 0);
        m->setAverage(4);
        const uint32_t size = m->fftSize();
        const auto period = whiteNoise(size, 0.5, 19);
        m->resetAverage();
        for (qsizetype t = 0; t < expected.size(); ++t) {
            std::vector<double> data(period);
            for (double& v : data)
                v *= double(t + 1);
            feedAll(*m, data, period);
            m->transform();
            for (uint32_t bin = 1; bin < size / 2; bin += 31)
                QVERIFY2(std::abs(m->records()[bin].magnitude / expected[t] - 1.0f) < 1e-4f,
                         qPrintable(QString("tick %1 bin %2: %3")
                                        .arg(t)
                                        .arg(bin)
                                        .arg(m->records()[bin].magnitude)));
        }
    }

    void cumulativeWaitsForAFullTransform()
    {
        auto m = synthetic(0, 3, 0);
        const uint32_t size = m->fftSize();
        const auto period = whiteNoise(size, 0.5, 23);
        std::vector<double> data(period);
        for (double& v : data)
            v *= 3.0;
        feedAll(*m, data, period);
        m->transform();
        QVERIFY(std::abs(m->records()[10].magnitude - 3.0f) < 1e-3f);

        m->resetAverage();
        feed(*m, period, period, 0, size / 2);  // half a transform after the reset
        m->transform();
        QVERIFY(std::abs(m->records()[10].magnitude - 3.0f) < 1e-3f);  // untouched
        feed(*m, period, period, size / 2, size / 2);
        m->transform();
        QVERIFY(std::abs(m->records()[10].magnitude - 1.0f) < 1e-3f);  // frame count 1
    }

    void shrinkingTheFftKeepsMeasuring()
    {
        auto m = synthetic(4, 0, 0);
        const auto noise = whiteNoise(10000, 0.5, 29);
        feedAll(*m, noise, noise);
        m->setMode(0);
        const auto period = repeated(whiteNoise(1024, 0.5, 31), 2048);
        std::vector<double> data(period);
        for (double& v : data)
            v *= 0.25;
        feedAll(*m, data, period);
        m->transform();
        QVERIFY(std::abs(m->records()[100].magnitude - 0.25f) < 1e-3f);
    }

    void calibrationScalesEachBin_data()
    {
        QTest::addColumn<QList<QPointF>>("microphone");
        QTest::addColumn<QList<QPointF>>("reference");
        const QList<QPointF> none;
        const QList<QPointF> plus6{{20, 6.0206}, {20000, 6.0206}};
        // 0 dB up to 100 Hz, 10 dB from 1 kHz, linear over log frequency between.
        const QList<QPointF> slope{{100, 0}, {1000, 10}};
        QTest::newRow("microphone +6 dB halves") << plus6 << none;
        QTest::newRow("reference +6 dB doubles") << none << plus6;
        QTest::newRow("both cancel") << plus6 << plus6;
        QTest::newRow("microphone slope") << slope << none;
    }

    void calibrationScalesEachBin()
    {
        QFETCH(QList<QPointF>, microphone);
        QFETCH(QList<QPointF>, reference);
        const auto curveOf = [](const QList<QPointF>& points) {
            auto curve = std::make_shared<CalCurve>();
            QList<CalCurve::Point> list;
            for (const QPointF& p : points)
                list.append({float(p.x()), float(p.y())});
            curve->setPoints(list);
            return curve;
        };
        // Independent reading of a curve: dB linear over log10 frequency, held at the ends.
        const auto gainDb = [](const QList<QPointF>& points, double f) {
            if (points.isEmpty())
                return 0.0;
            if (f <= points.first().x())
                return points.first().y();
            if (f >= points.last().x())
                return points.last().y();
            const double t =
                std::log10(f / points[0].x()) / std::log10(points[1].x() / points[0].x());
            return points[0].y() + t * (points[1].y() - points[0].y());
        };

        auto m = synthetic(2, 0, 0);
        if (microphone.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "[Measurement] Calibration curve is empty or null");
        m->setCalibrationCurve(microphone.isEmpty() ? nullptr : curveOf(microphone));
        m->setReferenceCalibrationCurve(reference.isEmpty() ? nullptr : curveOf(reference));
        const uint32_t size = m->fftSize();
        const auto period = repeated(whiteNoise(size, 0.5, 41), 2 * size);
        feedAll(*m, period, period);
        m->transform();
        for (uint32_t bin = 1; bin < size / 2; ++bin) {
            const float f = m->records()[bin].frequency;
            const double expected =
                std::pow(10.0, (gainDb(reference, f) - gainDb(microphone, f)) / 20.0);
            QVERIFY2(std::abs(m->records()[bin].magnitude / expected - 1.0) < 1e-4,
                     qPrintable(QString("%1 Hz: %2 against %3")
                                    .arg(f)
                                    .arg(m->records()[bin].magnitude)
                                    .arg(expected)));
        }
    }

    // With a phone as the input device, the live inputs only drive the level meters: the
    // phone's samples through feedStreamSamples, the generator's through the loopback.
    void phoneModeFeedsOnlyTheMeters()
    {
        auto* server = audio::AudioStreamServer::instance();
        QVERIFY(server->listen(QHostAddress::LocalHost, 0, 0, 0));
        QWebSocket phone;
        QSignalSpy connected(server, &audio::AudioStreamServer::clientConnected);
        phone.open(QUrl(QString("ws://127.0.0.1:%1").arg(server->wsPort())));
        QTRY_COMPARE(phone.state(), QAbstractSocket::ConnectedState);
        phone.sendTextMessage(R"({"type":"audio-hello","id":"phone-1","sampleRate":48000})");
        QTRY_COMPARE(connected.count(), 1);

        Measurement m;
        m.setDeviceId(QStringLiteral("phone-1"));
        QSignalSpy status(&m, &Measurement::blockStatusChanged);
        m.setActive(true);
        QVERIFY(m.phoneMode());
        QVERIFY(!m.audioInput());
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.takeFirst().first().toInt(), 1);

        std::vector<float> phoneSamples(6000), loopback(6000);
        for (std::size_t n = 0; n < phoneSamples.size(); ++n) {
            const float s = float(std::sin(2.0 * std::numbers::pi * 1000.0 * n / rate));
            phoneSamples[n] = 0.5f * s;
            loopback[n] = 0.25f * s;
        }
        phoneSamples[100] = std::numeric_limits<float>::quiet_NaN();
        loopback[200] = std::numeric_limits<float>::infinity();
        m.feedStreamSamples(phoneSamples.data(), qlonglong(phoneSamples.size()));
        for (float x : loopback)
            m.writeLoopbackSample(x);
        m.transform();
        const double rms = 20.0 * std::log10(0.5 / std::sqrt(2.0));
        QVERIFY2(std::abs(m.level() - rms) < 0.05, qPrintable(QString::number(m.level())));
        QVERIFY2(std::abs(m.referenceLevel() - (rms - 6.0206)) < 0.05,
                 qPrintable(QString::number(m.referenceLevel())));

        m.setActive(false);
        QVERIFY(!m.phoneMode());
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.takeFirst().first().toInt(), 0);
        phone.close();
        server->stop();
    }

    void endToEndThroughTheLoopbackCard();
};

// The test card plays white noise on output channel 0; input 0 hears it through gain, delay and
// a peaking biquad, input 1 hears it straight (an electrical reference).
class NoiseSource : public QIODevice {
public:
    explicit NoiseSource(double amplitude) : uniform_(-amplitude, amplitude) {}

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 frames = maxSize / qint64(2 * sizeof(float));
        auto* out = reinterpret_cast<float*>(data);
        for (qint64 f = 0; f < frames; ++f) {
            out[2 * f] = float(uniform_(engine_));
            out[2 * f + 1] = 0.0f;
        }
        return frames * qint64(2 * sizeof(float));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::mt19937 engine_{37};
    std::uniform_real_distribution<double> uniform_;
};

void MeasurementTest::endToEndThroughTheLoopbackCard()
{
    const Path path{0.5, 48, Biquad::peaking(2000.0, 6.0, 1.5, rate)};
    LoopbackCard::Path measured;
    measured.sourceChannel = 0;
    measured.gain = float(path.gain);
    measured.delayFrames = path.delay;
    const Biquad& b = path.biquad;
    measured.biquad = {b.b0, b.b1, b.b2, b.a1, b.a2};
    card->setPath(0, measured);
    LoopbackCard::Path direct;
    direct.sourceChannel = 0;
    card->setPath(1, direct);

    const double amplitude = 0.4;
    NoiseSource source(amplitude);
    auto client = audio::Client::instance();
    audio::Stream* output = client->openOutput(card->deviceId(), &source, audio::Format{48000, 2});
    QVERIFY(output);

    Measurement m;
    m.setDeviceId(card->deviceId());
    m.setAverageType(3);
    m.setDataChannel(0);
    m.setReferenceChannel(1);
    QSignalSpy ready(&m, &Measurement::readyRead);
    m.setActive(true);
    QCOMPARE(m.sampleRate(), 48000u);
    // 1.5 s of pairs: enough for the delay finder's 65536 and a dozen cumulative ticks.
    QVERIFY(card->waitTicks(card->ticks() + 150, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(ready.count() >= 15, 30000);
    m.updateEstimate();
    m.setActive(false);
    output->close();

    QCOMPARE(m.estimatedDelayMs(), 1.0f);
    QCOMPARE(m.impulse()[std::size_t(impulsePeak(m))].timeMs, 1.0f);

    const uint32_t size = m.fftSize();
    int good = 0, total = 0;
    for (uint32_t bin = 1; bin < size / 2; ++bin) {
        const BinRecord& record = m.records()[bin];
        if (record.frequency < 100.0f || record.frequency > 15000.0f)
            continue;
        const auto expected = path.response(omegaOfBin(bin, size));
        const double errorDb = 20.0 * std::log10(record.magnitude / std::abs(expected));
        ++total;
        if (std::abs(errorDb) < 0.5 && phaseError(record, expected) < 0.1f
            && record.coherence > 0.9f)
            ++good;
    }
    QVERIFY2(good > total * 95 / 100, qPrintable(QString("%1 of %2 bins").arg(good).arg(total)));

    // Uniform noise has an RMS of amplitude / √3; the path adds its gain and the biquad's power.
    const double referenceRms = 20.0 * std::log10(amplitude / std::sqrt(3.0));
    QVERIFY2(std::abs(m.referenceLevel() - referenceRms) < 0.5,
             qPrintable(QString::number(m.referenceLevel())));
    const double measuredRms = referenceRms + 20.0 * std::log10(path.gain)
                               + 10.0 * std::log10(path.biquad.noisePowerGain());
    QVERIFY2(std::abs(m.level() - measuredRms) < 0.5, qPrintable(QString::number(m.level())));
}

SNT_TEST_MAIN(MeasurementTest)
#include "MeasurementTest.moc"
