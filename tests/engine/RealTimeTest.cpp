#include "common/RealTime.h"
#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "common/Log.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

using snt::test::LoopbackCard;

namespace {
std::shared_ptr<LoopbackCard> card;

// Runs `work` on a thread of its own inside a real-time section; the heap calls it made.
uint64_t heapCallsOnAudioThread(const std::function<void()> &work)
{
    realtime::resetViolations();
    std::thread audio([&work] {
        const realtime::Section section;
        work();
    });
    audio.join();
    return realtime::violations().heapCalls;
}

// Runs one of JACK's tools against the test server.
QString jackTool(const QString &program, const QStringList &args)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("JACK_DEFAULT_SERVER", qEnvironmentVariable("SNT_TEST_JACK_SERVER"));
    tool.setProcessEnvironment(env);
    tool.start(program, args);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// Our JACK client's outputs go into its inputs instead of the server's (silent) capture ports.
void loopJackOutputsBack()
{
    const QString ours = jackTool("jack_lsp", {"-c", "system:playback_1"})
                                 .section('\n', 1, 1)
                                 .trimmed()
                                 .section(':', 0, 0);
    for (int c = 1; c <= 2; ++c) {
        const QString in = QStringLiteral("%1:in_%2").arg(ours).arg(c);
        jackTool("jack_disconnect", {QStringLiteral("system:capture_%1").arg(c), in});
        jackTool("jack_connect", {QStringLiteral("%1:out_%2").arg(ours).arg(c), in});
    }
}

// A whole measurement: the generator plays `type` into `output`, the measurement records `input`
// against the loopback, with ticks at 65536 points.
struct Run
{
    Run(const QString &output, const QString &input, int type)
    {
        generator.setType(type);
        generator.setDeviceId(output);
        generator.setChannels({0, 1});
        m.setDeviceId(input);
        m.setMode(6);
        m.setAverageType(2);
        m.setAverage(8);
        m.setReferenceChannel(-1);
        m.setGenerator(generator.generatorThread());
    }
    ~Run()
    {
        m.setActive(false);
        generator.setEnabled(false);
    }
    bool start()
    {
        if (!QTest::qWaitFor(
                    [this] { return generator.generatorThread()->channels().size() == 2; }))
            return false;
        generator.setEnabled(true);
        m.setActive(true);
        return m.audioInput() && m.audioInput()->isActive();
    }
    // Sound has come round the loop (a sound server may take a moment to start).
    bool waitForSound()
    {
        return QTest::qWaitFor([this] { return m.level() > -40.0f && m.referenceLevel() > -40.0f; },
                               20000);
    }
    // Two seconds of streaming, with delay estimates, a reset of the averages and whatever
    // `begin` starts on the GUI thread: what the audio threads did in them.
    template<typename Begin>
    realtime::Violations streamAndCount(Begin begin)
    {
        QTimer estimates;
        QObject::connect(&estimates, &QTimer::timeout, &m, &Measurement::updateEstimate);
        estimates.start(300);
        QTimer::singleShot(1000, &m, &Measurement::resetAverage);
        realtime::resetViolations();
        begin();
        QTest::qWait(2000);
        return realtime::violations();
    }

    Generator generator;
    Measurement m;
};

} // namespace

// The audio threads of a whole measurement (the generator's render path, the capture path into
// the measurement, the ALSA engine's threads, the WASAPI stream threads, the ASIO period over
// JACK, the test card's thread) mark their loops as real-time sections; this program counts
// every heap call (malloc and free as well as operator new) and every wait for a lock inside
// them. Two seconds of streaming, while the GUI thread runs 65536-point ticks, delay estimates
// and a reset, must have none of either.
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
    void sectionsCountHeapCallsAndLockWaits()
    {
        realtime::resetViolations();
        auto outside = std::make_unique<int>(1);
        std::mutex mutex;
        std::unique_lock held(mutex);
        std::thread audio([&mutex] {
            const realtime::Section section;
            auto inside = std::make_unique<int>(2); // one allocation, and one free at the end
            const realtime::Lock lock(mutex); // waits until the main thread lets go
        });
        while (realtime::violations().heapCalls == 0)
            std::this_thread::yield();
        QTest::qWait(50);
        held.unlock();
        audio.join();
        QCOMPARE(realtime::violations().heapCalls, 2u);
        QCOMPARE(realtime::violations().lockWaits, 1u);
    }

    // Qt's containers and strings take their memory with malloc, never with operator new: each
    // of these, made on an audio thread, is seen.
    void qtHeapCallsAreCounted()
    {
        QVERIFY(heapCallsOnAudioThread([] { const QList<float> block(480); }) >= 2);
        QVERIFY(heapCallsOnAudioThread([] { const QString s = QString::number(480); }) >= 2);
        QVERIFY(heapCallsOnAudioThread(
                        [] { sntInfo("[RealTimeTest]") << "a log line from an audio thread"; })
                > 0);

        // Copying a set only shares it; but when its owner replaces it meanwhile, the audio
        // thread's copy is the last and frees the set there.
        QSet<int> owner{0, 1};
        std::optional<QSet<int>> copy;
        QCOMPARE(heapCallsOnAudioThread([&] { copy = owner; }), 0u);
        owner = QSet<int>{1};
        QVERIFY(heapCallsOnAudioThread([&] { copy.reset(); }) > 0);
    }

    void streamingHasNoHeapCallsNorLockWaits_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("input");
        QTest::newRow("loopback card") << card->deviceId() << card->deviceId();
        QTest::newRow("PulseAudio loop") << "alsa:render:loop"
                                         << "alsa:capture:loop_monitor";
        QTest::newRow("JACK dummy") << "JACK " + qEnvironmentVariable("SNT_TEST_JACK_SERVER")
                                    << "JACK " + qEnvironmentVariable("SNT_TEST_JACK_SERVER");
    }

    void streamingHasNoHeapCallsNorLockWaits()
    {
        QFETCH(QString, output);
        QFETCH(QString, input);
        if (output.startsWith("alsa:") && qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            SNT_SKIP("needs the test sound server (scripts/test.sh)");
        const bool jack = output.startsWith("JACK ");
        if (jack && qEnvironmentVariableIsEmpty("SNT_TEST_JACK_SERVER"))
            SNT_SKIP("needs the test JACK server (scripts/test.sh)");
        if (jack)
            QTRY_VERIFY_WITH_TIMEOUT(audio::Client::instance()->hasDevice(output), 10000);
        Run run(output, input, 1);
        QVERIFY(run.start());
        if (jack)
            loopJackOutputsBack();
        QVERIFY(run.waitForSound());
        const realtime::Violations seen = run.streamAndCount([] {});
        QVERIFY(run.m.level() > -40.0f); // still streaming
        QCOMPARE(seen.heapCalls, 0u);
        QCOMPARE(seen.lockWaits, 0u);
    }
};

SNT_TEST_MAIN(RealTimeTest)
#include "RealTimeTest.moc"
