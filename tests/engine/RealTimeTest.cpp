#include "common/RealTime.h"
#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QTimer>
#include <mutex>
#include <thread>

using snt::test::LoopbackCard;

namespace {
std::shared_ptr<LoopbackCard> card;
}

// The audio threads of a whole measurement (the generator's render thread, the capture thread,
// the ALSA engine's threads, the test card's thread) mark their loops as real-time sections; this
// program counts every allocation and every wait for a lock inside them. Two seconds of
// streaming, while the GUI thread runs 65536-point ticks, delay estimates and a reset, must
// have none of either.
class RealTimeTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        card = std::make_shared<LoopbackCard>();
        QList<audio::Client::PluginFactory> factories = audio::backendFactories();
        factories.append([] { return card; });
        QVERIFY(audio::Client::setPluginFactories(factories));
    }

    void cleanupTestCase() { card.reset(); }

    // The checks themselves: what happens inside a section is seen, what happens outside is not.
    void sectionsCountAllocationsAndLockWaits()
    {
        realtime::resetViolations();
        auto outside = std::make_unique<int>(1);
        std::mutex mutex;
        std::unique_lock held(mutex);
        std::thread audio([&mutex] {
            const realtime::Section section;
            auto inside = std::make_unique<int>(2);
            const realtime::Lock lock(mutex); // waits until the main thread lets go
        });
        while (realtime::violations().allocations == 0)
            std::this_thread::yield();
        QTest::qWait(50);
        held.unlock();
        audio.join();
        QCOMPARE(realtime::violations().allocations, 1u);
        QCOMPARE(realtime::violations().lockWaits, 1u);
    }

    void streamingHasNoAllocationsNorLockWaits_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("input");
        QTest::newRow("loopback card") << card->deviceId() << card->deviceId();
        QTest::newRow("PulseAudio loop") << "alsa:loop"
                                         << "alsa:loop_monitor";
    }

    void streamingHasNoAllocationsNorLockWaits()
    {
        QFETCH(QString, output);
        QFETCH(QString, input);
        if (output.startsWith("alsa:") && qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            SNT_SKIP("needs the test sound server (scripts/test.sh)");
        Generator generator;
        generator.setType(1);
        generator.setDeviceId(output);
        generator.setChannels({0, 1});
        QTRY_COMPARE(generator.generatorThread()->channels(), (QSet<int>{0, 1}));
        Measurement m;
        m.setDeviceId(input);
        m.setMode(6);
        m.setAverageType(2);
        m.setAverage(8);
        m.setReferenceChannel(-1);
        m.setGenerator(generator.generatorThread());
        generator.setEnabled(true);
        m.setActive(true);
        QVERIFY(m.audioInput() && m.audioInput()->isActive());
        // Sound has come round the loop (a sound server may take a moment to start).
        QTRY_VERIFY_WITH_TIMEOUT(m.level() > -40.0f && m.referenceLevel() > -40.0f, 20000);

        QTimer estimates;
        connect(&estimates, &QTimer::timeout, &m, &Measurement::updateEstimate);
        estimates.start(300);
        QTimer::singleShot(1000, &m, &Measurement::resetAverage);
        realtime::resetViolations();
        QTest::qWait(2000);
        const realtime::Violations seen = realtime::violations();
        QVERIFY(m.level() > -40.0f); // still streaming
        m.setActive(false);
        generator.setEnabled(false);
        QCOMPARE(seen.allocations, 0u);
        QCOMPARE(seen.lockWaits, 0u);
    }
};

SNT_TEST_MAIN(RealTimeTest)
#include "RealTimeTest.moc"
