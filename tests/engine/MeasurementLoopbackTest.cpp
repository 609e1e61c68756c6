#include "audio/Client.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "tests/engine/MeasurementSignals.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <algorithm>
#include <cmath>

using namespace snt::test;

namespace {
std::shared_ptr<LoopbackCard> card;
}

// The whole chain with the generator's own samples as the reference: the generator plays white
// noise into the test card, the card returns it through a known path, and the measurement pairs
// the recording with the looped-back samples.
class MeasurementLoopbackTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] { return card; }}));
        QVERIFY(audio::Client::instance());
    }

    void cleanupTestCase() { card.reset(); }

    void generatorLoopbackIsTheReference()
    {
        const double rate = 48000.0;
        const Path path{0.5, 48, Biquad::peaking(1500.0, -6.0, 1.0, rate)};
        LoopbackCard::Path measured;
        measured.sourceChannel = 0;
        measured.gain = float(path.gain);
        measured.delayFrames = path.delay;
        const Biquad& b = path.biquad;
        measured.biquad = {b.b0, b.b1, b.b2, b.a1, b.a2};
        card->setPath(0, measured);

        Generator generator;
        generator.setType(1);  // white noise
        generator.setGain(-6.0f);
        generator.setDeviceId(card->deviceId());
        generator.setChannels({0});
        QTRY_COMPARE(generator.deviceId(), card->deviceId());
        QTRY_COMPARE(generator.generatorThread()->channels(), QSet<int>{0});

        Measurement m;
        m.setDeviceId(card->deviceId());
        m.setAverageType(3);
        m.setDataChannel(0);
        m.setReferenceChannel(-1);
        m.setGenerator(generator.generatorThread());
        QCOMPARE(m.loopbackSampleRate(), 48000u);
        generator.setEnabled(true);
        m.setActive(true);

        // The recording lags its loopback copy by the card's latency, the path's delay and
        // whatever part of a card period passed between opening the input and connecting the
        // generator: a whole number of periods.
        QSignalSpy ready(&m, &Measurement::readyRead);
        QTRY_VERIFY_WITH_TIMEOUT(ready.count() >= 25, 60000);
        m.updateEstimate();
        const int lag = int(std::lround(m.estimatedDelayMs() * rate / 1000.0));
        const int fixedPart = card->baseLatency() + path.delay;
        QVERIFY2(lag >= fixedPart && (lag - fixedPart) % card->periodFrames() == 0,
                 qPrintable(QString::number(lag)));

        // Read the reference back by that lag, and average afresh: what is left is the path.
        m.setDelay(lag - path.delay);
        m.resetAverage();
        const int settled = ready.count() + 12;
        QTRY_VERIFY_WITH_TIMEOUT(ready.count() >= settled, 30000);
        m.setActive(false);
        generator.setEnabled(false);

        int good = 0, total = 0;
        const uint32_t size = m.fftSize();
        for (uint32_t bin = 1; bin < size / 2; ++bin) {
            const BinRecord& record = m.records()[bin];
            if (record.frequency < 100.0f || record.frequency > 15000.0f)
                continue;
            const auto expected = path.response(2.0 * std::numbers::pi * bin / size);
            const double errorDb = 20.0 * std::log10(record.magnitude / std::abs(expected));
            const std::complex<double> phasor(record.phaseRe, record.phaseIm);
            ++total;
            good += std::abs(errorDb) < 1.0
                    && std::abs(phasor - expected / std::abs(expected)) < 0.15;
        }
        QVERIFY2(good > total * 9 / 10, qPrintable(QString("%1 of %2 bins").arg(good).arg(total)));
        const auto& impulse = m.impulse();
        const auto peak = std::max_element(impulse.begin(), impulse.end(), [](auto& a, auto& b) {
            return std::abs(a.value.re) < std::abs(b.value.re);
        });
        QCOMPARE(peak->timeMs, float(path.delay * 1000.0 / rate));
    }
};

SNT_TEST_MAIN(MeasurementLoopbackTest)
#include "MeasurementLoopbackTest.moc"
