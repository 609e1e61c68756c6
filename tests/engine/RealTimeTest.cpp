#include "common/RealTime.h"
#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "common/Log.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "engine/tf/generator/WhiteNoise.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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
    // Two seconds of streaming, and on until `done` holds (what a test drives from a thread of
    // its own takes what the machine gives it), with delay estimates, a reset of the averages
    // and whatever `begin` starts on the GUI thread: what the audio threads did in them.
    template<typename Begin, typename Done = bool (*)()>
    realtime::Violations streamAndCount(
            Begin begin, Done done = [] { return true; })
    {
        QTimer estimates;
        QObject::connect(&estimates, &QTimer::timeout, &m, &Measurement::updateEstimate);
        estimates.start(300);
        QTimer::singleShot(1000, &m, &Measurement::resetAverage);
        realtime::resetViolations();
        begin();
        QTest::qWait(2000);
        (void)QTest::qWaitFor(done, 120000); // whether it came, the caller reads
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
        QVERIFY(heapCallsOnAudioThread([] {
                    sntInfo(lcMeasurement, "[RealTimeTest]") << "a log line from an audio thread";
                })
                > 0);

        // Copying a set only shares it; but when its owner replaces it meanwhile, the audio
        // thread's copy is the last and frees the set there.
        QSet<int> owner{0, 1};
        std::optional<QSet<int>> copy;
        QCOMPARE(heapCallsOnAudioThread([&] { copy = owner; }), 0u);
        owner = QSet<int>{1};
        QVERIFY(heapCallsOnAudioThread([&] { copy.reset(); }) > 0);
    }

    // Settings changed by another thread while a source's block is being read: the change does
    // not wait for the reader, the reader neither waits for it nor frees what it replaced (the
    // channel set, the fade table), and the next block plays with it.
    void settingsChangedWithinABlockReachTheNext()
    {
        GeneratorThread owner; // not started: the source's channels and loopback
        owner.setChannels({0});
        WhiteNoise source(&owner);
        source.setChanelCount(2);
        source.setSamplerate(48000);
        source.setFadeDuration(0.001f); // 48 samples
        source.resetFadeIn();
        source.open(QIODevice::ReadOnly);

        // The first samples looped back from the block under way set the change off, on a
        // thread of its own, and wait (at most a second) for it to be done.
        std::atomic<bool> go{false}, changed{false};
        std::thread changer([&] {
            while (!go.load())
                std::this_thread::yield();
            owner.setChannels({1});
            source.setGain(-20.0f);
            source.setFadeDuration(0.002f); // a new table, the old one to be freed
            changed.store(true);
        });
        struct MidBlock : LoopbackSink
        {
            std::atomic<bool> *go = nullptr, *changed = nullptr;
            bool waited = false;
            bool changedMeanwhile = false;
            void loopedBack(std::span<const float>) override
            {
                if (std::exchange(waited, true))
                    return;
                go->store(true);
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                while (!changed->load() && std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
                changedMeanwhile = changed->load();
            }
        } midBlock;
        midBlock.go = &go;
        midBlock.changed = &changed;
        owner.bindLoopback(&midBlock);

        constexpr int frames = 2048;
        std::vector<float> first(2 * frames), second(2 * frames);
        realtime::resetViolations();
        std::thread render([&] {
            const realtime::Section section;
            const auto read = [&source](std::vector<float> &block) {
                source.read(reinterpret_cast<char *>(block.data()),
                            qint64(block.size() * sizeof(float)));
            };
            read(first);
            read(second);
        });
        render.join();
        changer.join();
        owner.unbindLoopback(&midBlock);
        QVERIFY(midBlock.changedMeanwhile);
        QCOMPARE(realtime::violations().heapCalls, 0u);
        QCOMPARE(realtime::violations().lockWaits, 0u);
        const auto peak = [](const std::vector<float> &block, int channel) {
            float most = 0.0f;
            for (std::size_t i = std::size_t(channel); i < block.size(); i += 2)
                most = std::max(most, std::abs(block[i]));
            return most;
        };
        // White noise at 0 dB peaks near 1, at −20 dB near 0.1.
        QVERIFY(peak(first, 0) > 0.9f && peak(first, 1) == 0.0f);
        QVERIFY(peak(second, 0) == 0.0f && peak(second, 1) > 0.09f && peak(second, 1) <= 0.1f);
    }

    void streamingHasNoHeapCallsNorLockWaits_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("input");
        QTest::newRow("loopback card") << card->deviceId() << card->deviceId();
        QTest::newRow("PulseAudio loop") << "alsa:loop"
                                         << "alsa:loop_monitor";
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

    // The generator's settings change thousands of times a second while it plays a sweep: the
    // channels, the level and the sweep's range (from a thread of the test's own, so the
    // changes come as fast as a render block passes), and the fade-in (from the GUI thread,
    // which builds its table). The render thread takes each change without waiting for it and
    // frees nothing it held.
    void changingTheGeneratorWhileItPlaysCostsTheRenderThreadNothing()
    {
        Run run(card->deviceId(), card->deviceId(), 2);
        QVERIFY(run.start());
        QVERIFY(run.waitForSound());
        GeneratorThread *thread = run.generator.generatorThread();
        constexpr int kChanges = 4000;
        std::atomic<int> changes{0};
        std::thread changer([&] {
            for (int change = 0; change < kChanges; ++change) {
                const bool odd = change % 2;
                thread->setChannels(odd ? QSet<int>{0} : QSet<int>{0, 1});
                thread->setGain(odd ? -7.0f : -6.0f);
                thread->setStartFrequency(odd ? 30 : 20);
                changes.store(change + 1);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        QTimer fades;
        connect(&fades, &QTimer::timeout, &fades,
                [&] { thread->setFadeDuration(changes.load() % 2 ? 0.5f : 1.0f); });
        const realtime::Violations seen = run.streamAndCount(
                [&] { fades.start(20); }, [&] { return changes.load() == kChanges; });
        changer.join();
        QCOMPARE(changes.load(), kChanges); // all made while the sweep played
        QVERIFY(run.m.level() > -40.0f);
        QCOMPARE(seen.heapCalls, 0u);
        QCOMPARE(seen.lockWaits, 0u);
    }
};

SNT_TEST_MAIN(RealTimeTest)
#include "RealTimeTest.moc"
