#include "engine/tf/generator/Generator.h"
#include "SignalTools.h"
#include "audio/Client.h"
#include "audio/InputDevice.h"
#include "audio/NetworkSink.h"
#include "audio/Stream.h"
#include "audio/aes67/Sender.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"
#include "tests/support/ThreadPolicies.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

using snt::test::LoopbackCard;
using namespace signaltest;

namespace {

LoopbackCard *cardA = nullptr; // the default output
LoopbackCard *cardB = nullptr;

// Samples collected on whatever thread produces them: the generator's loopback signal, or one
// channel of a card's capture of its own output.
struct Collector : LoopbackSink
{
    QMutex mutex;
    std::vector<float> samples;

    void add(float s)
    {
        QMutexLocker lock(&mutex);
        samples.push_back(s);
    }
    void loopedBack(std::span<const float> block) override
    {
        QMutexLocker lock(&mutex);
        samples.insert(samples.end(), block.begin(), block.end());
    }
    std::vector<float> take()
    {
        QMutexLocker lock(&mutex);
        return std::exchange(samples, {});
    }
    size_t size()
    {
        QMutexLocker lock(&mutex);
        return samples.size();
    }
    // Bound for the rest of the generator's life: a collector outlives its generator.
    void follow(GeneratorThread *thread) { thread->bindLoopback(this); }
};

struct Capture : Collector
{
    InputDevice sink;
    audio::Stream *stream = nullptr;

    Capture(const QString &deviceId, int channel)
        : sink([this, channel](const char *data, qint64 bytes) {
            for (qint64 i = channel; i < bytes / 4; i += 2)
                add(reinterpret_cast<const float *>(data)[i]);
        })
    {
        stream = audio::Client::instance()->openInput(deviceId, &sink, audio::Format{0, 2});
    }
    ~Capture()
    {
        if (stream)
            stream->close();
    }
};

bool waitReady(Generator &generator)
{
    return QTest::qWaitFor([&] { return !generator.types().toStringList().isEmpty(); }, 5000);
}

} // namespace

class GeneratorTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString musicFile;

private slots:
    void initTestCase()
    {
        QVERIFY(audio::Client::setPluginFactories({
                [] { return std::shared_ptr<LoopbackCard>(cardA = new LoopbackCard()); }, // 48 kHz
                [] {
                    return std::shared_ptr<LoopbackCard>(
                            cardB = new LoopbackCard("LoopbackB", "loopback-b", 2, 44100));
                },
        }));
        audio::Client::instance();
        musicFile = dir.filePath("music.wav");
        QList<qint16> tone;
        for (int i = 0; i < 4800; ++i)
            tone.append(qint16(10000 * std::sin(2 * M_PI * 440.0 * i / 48000.0)));
        QVERIFY(writeFile(musicFile, wav(fmt(1, 1, 48000, 16), i16(tone))));
    }

    // A screen binds to the list of types as soon as the generator exists, before its thread
    // has made the sources: the binding must follow once they are there.
    void typesBindingFollowsTheSources()
    {
        Generator generator;
        QQmlEngine engine;
        engine.rootContext()->setContextProperty("generator", &generator);
        QQmlComponent component(&engine);
        component.setData(
                "import QtQml\nQtObject { property string names: generator.types.join('|') }",
                QUrl());
        std::unique_ptr<QObject> screen(component.create());
        QVERIFY2(screen, qPrintable(component.errorString()));
        QCOMPARE(screen->property("names").toString(), QString());
        QTRY_COMPARE(screen->property("names").toString(),
                     QString("Pink|White|SineSweep|音频文件|PeriodicNoise"));
    }

    // The session names the file and switches the output on right after building the generator,
    // usually before its thread has made the sources; both must take effect all the same. Some
    // rounds destroy the generator while its thread is still building.
    void askedForAtOnce()
    {
        for (int round = 0; round < 20; ++round) {
            Generator generator;
            QSignalSpy loaded(&generator, &Generator::audioFileLoaded);
            generator.setType(3);
            generator.setAudioFilePath(musicFile);
            if (round % 2)
                continue;
            QVERIFY(loaded.wait(5000));
            QCOMPARE(loaded.count(), 1);
            QCOMPARE(loaded.at(0), QVariantList({true, QString()}));
        }
        Collector loopback;
        Generator generator;
        loopback.follow(generator.generatorThread());
        generator.setType(3);
        generator.setAudioFilePath(musicFile);
        // Queued, so not there yet when the output is switched on, but on its way: no warning.
        QTest::failOnWarning(QRegularExpression("Output channels are not set"));
        generator.setChannels({0, 1});
        generator.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(cardA->openStreamCount(), 1, 5000);
        QVERIFY(QTest::qWaitFor([&] { return loopback.size() > 4800; }, 5000));
        const std::vector<float> played = loopback.take();
        const auto [low, high] = std::minmax_element(played.begin(), played.end());
        QVERIFY(*high - *low > 0.2f); // the file, not silence
        generator.setEnabled(false);
        QCOMPARE(cardA->openStreamCount(), 0);
    }

    void loopbackIsWhatTheCardPlayed()
    {
        // Every sample handed to the measurement is the sample the card played, in order, with
        // none missing: the card's capture of its output holds the loopback as one unbroken run.
        Collector loopback;
        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread *thread = generator.generatorThread();
        thread->setFadeDuration(0.0f);
        generator.setType(1);
        generator.setChannels({0, 1});
        QTRY_COMPARE(thread->channels(), QSet<int>({0, 1}));
        loopback.follow(thread);
        Capture capture("loopback-card", 1);
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);
        generator.setEnabled(true);
        QCOMPARE(cardA->openStreamCount(), 2);
        QVERIFY(cardA->waitTicks(40));
        generator.setEnabled(false);
        QCOMPARE(cardA->openStreamCount(), 1);
        QVERIFY(cardA->waitTicks(5));

        const std::vector<float> played = loopback.take();
        const std::vector<float> captured = capture.take();
        QVERIFY(played.size() >= size_t(35 * cardA->periodFrames()));
        QCOMPARE(played.size() % size_t(cardA->periodFrames()), size_t(0));
        const auto silent = [](float v) {
            return v == 0.0f;
        };
        const auto first = std::find_if_not(captured.begin(), captured.end(), silent);
        QVERIFY(size_t(captured.end() - first) >= played.size());
        QVERIFY(std::equal(played.begin(), played.end(), first));
        QVERIFY(std::all_of(first + qsizetype(played.size()), captured.end(), silent));
        QCOMPARE(rateSpy.count(), 0); // the card runs at the rate the sources started with
    }

    void restartsOnTypeAndDevice()
    {
        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread *thread = generator.generatorThread();
        QTest::ignoreMessage(QtWarningMsg, "[Generator] type out of range");
        generator.setType(5);
        QCOMPARE(generator.type(), 0);
        generator.setChannels({0, 1});
        QTRY_COMPARE(thread->channels(), QSet<int>({0, 1}));
        Capture capture("loopback-card", 0);
        generator.setEnabled(true);
        QVERIFY(cardA->waitTicks(5));
        const int opens = cardA->openCalls();
        const int teardowns = cardA->teardowns();

        // A new type closes the old stream and opens the new source with a fresh 1 s fade-in,
        // exponential from 0, at the default −6 dB.
        generator.setType(4);
        QCOMPARE(cardA->openCalls(), opens + 1);
        QCOMPARE(cardA->teardowns(), teardowns + 1);
        QVERIFY(cardA->waitTicks(20));
        const QList<double> period = makePeriodicNoise(65536, PeriodicNoise::seed, 1.0);
        std::vector<float> expected(4800);
        const float gain = std::pow(10.0f, -6.0f / 20.0f), scale = std::exp(3.0f) - 1.0f;
        for (int k = 0; k < 4800; ++k)
            expected[size_t(k)] = float(period[k]) * gain
                                  * ((std::exp(3.0f * float(k) / 48000.0f) - 1.0f) / scale);
        const std::vector<float> captured = capture.take();
        QVERIFY2(std::search(captured.begin(), captured.end(), expected.begin(), expected.end())
                         != captured.end(),
                 "the periodic noise did not start with a fresh fade");

        // Another card: the old stream closes, the new one opens at that card's rate.
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);
        generator.setDeviceId("loopback-b");
        QTRY_COMPARE(generator.deviceId(), QStringLiteral("loopback-b"));
        QCOMPARE(cardA->openStreamCount(), 1); // only the capture is left
        QCOMPARE(cardB->openStreamCount(), 1);
        QCOMPARE(rateSpy.count(), 1);
        QCOMPARE(thread->sampleRate(), 44100u);
        // The driver moves the card to another rate: every source follows.
        cardB->lastStream()->setSampleRate(48000);
        QCOMPARE(rateSpy.count(), 2);
        QCOMPARE(thread->sampleRate(), 48000u);

        // A card that cannot open: reported, still enabled, nothing open.
        QSignalSpy errorSpy(thread, &GeneratorThread::deviceError);
        cardA->setFailOpen(true);
        generator.setDeviceId("loopback-card");
        QVERIFY(errorSpy.wait(2000));
        cardA->setFailOpen(false);
        QVERIFY(generator.enabled());
        QCOMPARE(cardB->openStreamCount(), 0);
        QCOMPARE(cardA->openStreamCount(), 1);
        generator.setEnabled(false);
    }

    // An output that takes nothing for two seconds is named, once: the signal carries the
    // device, the log says which it is.
    void anOutputThatTakesNothingIsNamed()
    {
        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread *thread = generator.generatorThread();
        generator.setChannels({0});
        QTRY_COMPARE(thread->channels(), QSet<int>{0});
        QSignalSpy stalled(thread, &GeneratorThread::outputStalled);
        generator.setEnabled(true);
        QVERIFY(cardA->waitTicks(3));
        QTest::qWait(2500);
        QCOMPARE(stalled.count(), 0);
        LogCapture log;
        cardA->stallRender(300);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.count(), 1, 3000);
        QCOMPARE(stalled[0][0].toString(), cardA->deviceId());
        QVERIFY2(!log.lines().filter("[Generator] the output loopback-card").isEmpty(), log.text());
        QTest::qWait(1000); // the card takes again before the next test
        generator.setEnabled(false);
        QCOMPARE(stalled.count(), 1);
    }

    void destroyingAPlayingGeneratorClosesItsStream()
    {
        Collector loopback;
        auto generator = std::make_unique<Generator>();
        QVERIFY(waitReady(*generator));
        loopback.follow(generator->generatorThread());
        // Without channels the card plays silence, but the loopback still runs; the warning
        // comes once the calls queued before it have run.
        QTest::ignoreMessage(QtWarningMsg, "[Generator] Output channels are not set");
        generator->setEnabled(true);
        QCOMPARE(cardA->openStreamCount(), 1);
        QCoreApplication::processEvents();
        QVERIFY(cardA->waitTicks(3));
        generator.reset();
        QCOMPARE(cardA->openStreamCount(), 0);
        QVERIFY(loopback.take().size() >= 2 * size_t(cardA->periodFrames()));
    }

    void networkOutputFeedsTheSender()
    {
        audio::aes67::Sender *sender = audio::aes67::Sender::instance();
        sender->setRunning(true);
        std::vector<float> frames(8192 * 8);
        sender->ring().read(frames.data(), 8192);

        Collector loopback;
        Generator generator(audio::Client::instance(), sender);
        QVERIFY(waitReady(generator));
        GeneratorThread *thread = generator.generatorThread();
        thread->setFadeDuration(0.0f);
        generator.setType(1);
        generator.setChannels({0, 1, 2, 3, 4, 5, 6, 7});
        generator.setDeviceId("loopback-b"); // 44.1 kHz first
        QTRY_COMPARE(generator.deviceId(), QStringLiteral("loopback-b"));
        generator.setEnabled(true);
        QVERIFY(cardB->waitTicks(3));

        loopback.follow(thread);
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);
        const qint64 written = sender->ring().writeCount();
        const qint64 dropped = sender->droppedFrames();
        QElapsedTimer clock;
        clock.start();
        const QString network = QLatin1String(audio::networkOutputDeviceId);
        generator.setDeviceId(network);
        QTRY_COMPARE(generator.deviceId(), network);
        QCOMPARE(cardB->openStreamCount(), 0);
        QCOMPARE(rateSpy.count(), 1);
        QCOMPARE(thread->sampleRate(), 48000u);
        // It renders ahead of the sender's deadlines at the sender's priority, and only while
        // it does.
        const QList<int> ordinary{SCHED_OTHER};
        QTRY_COMPARE(policiesOfThreads("GeneratorThread"), QList<int>{audioThreadPolicy()});

        QTest::qWait(1000);
        generator.setEnabled(false); // no block reaches the sender after this returns
        QTRY_COMPARE(policiesOfThreads("GeneratorThread"), ordinary);
        const qint64 elapsed = clock.elapsed();
        const qint64 pushed = sender->ring().writeCount() - written;
        // 48 frames per ms plus 10 ms ahead, never more; under load it may lag, not lead.
        const QString pace = QString("%1 frames in %2 ms").arg(pushed).arg(elapsed);
        QVERIFY2(pushed <= elapsed * 48 + 480 && pushed >= elapsed * 24, qPrintable(pace));
        QVERIFY(sender->rateMismatch()); // the 44.1 kHz blocks played on the card were refused

        // Nobody drained the ring: it holds the newest 8192 frames and counts the rest.
        QCOMPARE(sender->ring().channelCount(), 8);
        QCOMPARE(sender->droppedFrames() - dropped, pushed - 8192);
        QCOMPARE(sender->ring().read(frames.data(), 8192), 8192);
        const std::vector<float> played = loopback.take();
        QVERIFY(played.size() >= 8192);
        for (size_t i = 0; i < 8192 * 8; ++i)
            QCOMPARE(frames[i], played[played.size() - 8192 + i / 8]);
        sender->setRunning(false);
    }
};

SNT_TEST_MAIN(GeneratorTest)
#include "GeneratorTest.moc"
