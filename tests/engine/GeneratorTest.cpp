#include "SignalTools.h"
#include "audio/Client.h"
#include "audio/InputDevice.h"
#include "audio/Stream.h"
#include "audio/aes67/Identifiers.h"
#include "audio/aes67/Sender.h"
#include "engine/tf/generator/Generator.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using snt::test::LoopbackCard;
using namespace signaltest;

namespace {

LoopbackCard* cardA = nullptr;  // the default output, 48 kHz
LoopbackCard* cardB = nullptr;  // a second card at 44.1 kHz

const QString network = QLatin1String(audio::aes67::networkOutputDeviceId);

// Samples collected on whatever thread produces them.
struct Collector {
    QMutex mutex;
    std::vector<float> samples;

    void add(float s)
    {
        QMutexLocker lock(&mutex);
        samples.push_back(s);
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
};

// Captures one channel of a card's input (its own output played back) on the card thread.
struct Capture {
    Collector collected;
    InputDevice sink;
    audio::Stream* stream = nullptr;

    Capture(const QString& deviceId, int channel)
        : sink([this, channel](const char* data, qint64 bytes) {
              const auto* frames = reinterpret_cast<const float*>(data);
              for (qint64 i = channel; i < bytes / 4; i += 2)
                  collected.add(frames[i]);
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

bool waitReady(Generator& generator)
{
    return QTest::qWaitFor([&] { return !generator.types().toStringList().isEmpty(); }, 5000);
}

}  // namespace

class GeneratorTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString musicFile;

private slots:
    void initTestCase()
    {
        QVERIFY(audio::Client::setPluginFactories({
            [] {
                auto p = std::make_shared<LoopbackCard>("Loopback", "loopback-card", 2, 48000);
                cardA = p.get();
                return p;
            },
            [] {
                auto p = std::make_shared<LoopbackCard>("LoopbackB", "loopback-b", 2, 44100);
                cardB = p.get();
                return p;
            },
        }));
        audio::Client::instance();
        QVERIFY(dir.isValid());
        musicFile = dir.filePath("music.wav");
        QList<qint16> tone;
        for (int i = 0; i < 4800; ++i)
            tone.append(qint16(10000 * std::sin(2 * M_PI * 440.0 * i / 48000.0)));
        QVERIFY(writeFile(musicFile, riff({chunk("fmt ", fmtPayload(1, 1, 48000, 16)),
                                           chunk("data", littleEndian<qint16>(tone))})));
    }

    void newGeneratorDefaults()
    {
        Generator generator;
        GeneratorThread* thread = generator.generatorThread();
        // The sources are handed over through the event loop, never before.
        QVERIFY(generator.types().toStringList().isEmpty());
        QCOMPARE(generator.type(), 0);
        QCOMPARE(generator.gain(), -6.0f);
        QCOMPARE(thread->sampleRate(), 48000u);
        QCOMPARE(generator.duration(), 1.0f);
        QCOMPARE(generator.frequency(), 1000);
        QCOMPARE(generator.startFrequency(), 20);
        QCOMPARE(generator.endFrequency(), 20000);
        QVERIFY(!generator.enabled());
        QCOMPARE(generator.deviceId(), QStringLiteral("loopback-card"));
        QVERIFY(waitReady(generator));
        QCOMPARE(generator.types().toStringList(),
                 QStringList({"Pink", "White", "SineSweep", "音频文件", "PeriodicNoise"}));
    }

    void generatorsCanGoAtOnce()
    {
        // Destroyed before, while or after their threads build the sources.
        for (int round = 0; round < 20; ++round) {
            Generator generator;
            generator.generatorThread()->setChannels({0});
            generator.setEnabled(round % 2 == 0);
            if (round % 3 == 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE(cardA->openStreamCount(), 0);
    }

    void typeIsCheckedOnceSourcesExist()
    {
        Generator generator;
        QSignalSpy typeSpy(&generator, &Generator::typeChanged);
        generator.setType(5);  // before the sources exist: stored as it is
        QCOMPARE(generator.type(), 5);
        QVERIFY(typeSpy.wait(2000));
        QVERIFY(waitReady(generator));
        generator.setType(0);
        for (int bad : {5, -1}) {
            QTest::ignoreMessage(QtWarningMsg, "[Generator] type out of range");
            generator.setType(bad);
            QCOMPARE(generator.type(), 0);
        }
        generator.setType(4);
        QCOMPARE(generator.type(), 4);
    }

    void settersSignalRealChangesOnly()
    {
        Generator generator;
        QSignalSpy gainSpy(&generator, &Generator::gainChanged);
        QSignalSpy durationSpy(&generator, &Generator::durationChanged);
        QSignalSpy frequencySpy(&generator, &Generator::frequencyChanged);
        generator.setGain(-6.00001f);
        generator.setDuration(1.000001f);
        generator.setFrequency(1000);
        generator.setGain(-6.1f);
        generator.setDuration(10.0f);
        generator.setFrequency(997);
        QTRY_COMPARE(gainSpy.count(), 1);
        QTRY_COMPARE(durationSpy.count(), 1);
        QTRY_COMPARE(frequencySpy.count(), 1);
        QCOMPARE(gainSpy.at(0).at(0).toFloat(), -6.1f);
        QCOMPARE(generator.duration(), 10.0f);
        QCOMPARE(frequencySpy.at(0).at(0).toInt(), 997);

        QTest::ignoreMessage(QtWarningMsg, "[Generator] audio device not present nowhere");
        generator.setDeviceId("nowhere");
        QTest::qWait(50);
        QCOMPARE(generator.deviceId(), QStringLiteral("loopback-card"));
    }

    void fileAskedForAtOnceIsLoaded()
    {
        // The session names the file right after building the generator, usually before its
        // thread has made the sources; the file must load all the same.
        for (int round = 0; round < 10; ++round) {
            Generator generator;
            QSignalSpy loaded(&generator, &Generator::audioFileLoaded);
            generator.setType(3);
            generator.setAudioFilePath(musicFile);
            QVERIFY(loaded.wait(5000));
            QCOMPARE(loaded.count(), 1);
            QCOMPARE(loaded.at(0).at(0).toBool(), true);
            QCOMPARE(loaded.at(0).at(1).toString(), QString());
        }
        Generator generator;
        QSignalSpy loaded(&generator, &Generator::audioFileLoaded);
        generator.setAudioFilePath(dir.filePath("absent.wav"));
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.at(0).at(0).toBool(), false);
        QVERIFY(loaded.at(0).at(1).toString().startsWith(QStringLiteral("无法打开文件: ")));
    }

    void enabledAtOnceStillPlays()
    {
        // Switched on before the sources exist: the output opens as soon as they do.
        Generator generator;
        Collector loopback;
        connect(generator.generatorThread(), &GeneratorThread::sampleOut, this,
                [&loopback](float s) { loopback.add(s); }, Qt::DirectConnection);
        generator.setType(3);
        generator.setAudioFilePath(musicFile);
        generator.setChannels({0, 1});  // queued: not there yet when the output is switched on
        QTest::ignoreMessage(QtWarningMsg, "[Generator] Output channels are not set");
        generator.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(cardA->openStreamCount(), 1, 5000);
        QVERIFY(QTest::qWaitFor([&] { return loopback.size() > 4800; }, 5000));
        const std::vector<float> played = loopback.take();
        const float peak = std::abs(*std::max_element(played.begin(), played.end(),
                                   [](float a, float b) { return std::abs(a) < std::abs(b); }));
        QVERIFY2(peak > 0.1f, qPrintable(QString::number(peak)));  // the file, not silence
        generator.setEnabled(false);
        QCOMPARE(cardA->openStreamCount(), 0);
    }

    void loopbackIsWhatTheCardPlayed()
    {
        // Every sample handed to the measurement is the sample the card played, in order, with
        // none missing: the card's own capture of its output holds the loopback sequence as
        // one unbroken run.
        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread* thread = generator.generatorThread();
        thread->setFadeDuration(0.0f);
        generator.setType(1);
        generator.setGain(0.0f);
        generator.setChannels({0, 1});
        QTRY_COMPARE(thread->channels(), QSet<int>({0, 1}));
        Collector loopback;
        connect(thread, &GeneratorThread::sampleOut, this, [&loopback](float s) { loopback.add(s); },
                Qt::DirectConnection);
        Capture capture("loopback-card", 1);
        QVERIFY(capture.stream);
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);

        generator.setEnabled(true);
        QCOMPARE(cardA->openStreamCount(), 2);
        QVERIFY(cardA->waitTicks(40));
        generator.setEnabled(false);
        QCOMPARE(cardA->openStreamCount(), 1);
        QVERIFY(cardA->waitTicks(5));

        const std::vector<float> played = loopback.take();
        const std::vector<float> captured = capture.collected.take();
        QVERIFY(played.size() >= size_t(35 * cardA->periodFrames()));
        QCOMPARE(played.size() % size_t(cardA->periodFrames()), size_t(0));
        const auto first = std::find_if(captured.begin(), captured.end(), [](float v) { return v != 0.0f; });
        QVERIFY(first != captured.end());
        const size_t offset = size_t(first - captured.begin());
        QVERIFY(offset + played.size() <= captured.size());
        QVERIFY(std::equal(played.begin(), played.end(), captured.begin() + qsizetype(offset)));
        QVERIFY(std::all_of(captured.begin() + qsizetype(offset + played.size()), captured.end(),
                            [](float v) { return v == 0.0f; }));
        QCOMPARE(rateSpy.count(), 0);  // the card runs at the rate the sources started with
    }

    void restartsOnTypeAndDevice()
    {
        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread* thread = generator.generatorThread();
        generator.setChannels({0, 1});
        QTRY_COMPARE(thread->channels(), QSet<int>({0, 1}));
        Capture capture("loopback-card", 0);
        generator.setEnabled(true);
        QVERIFY(cardA->waitTicks(5));
        const int opens = cardA->openCalls();
        const int teardowns = cardA->teardowns();

        // A new type closes the old stream and opens the new source with a fresh fade-in.
        generator.setType(4);
        QCOMPARE(cardA->openCalls(), opens + 1);
        QCOMPARE(cardA->teardowns(), teardowns + 1);
        QCOMPARE(cardA->openStreamCount(), 2);
        QVERIFY(cardA->waitTicks(20));
        const QList<double> period = makePeriodicNoise(65536, 0x50524E21, 1.0);
        const float gain = std::pow(10.0f, -6.0f / 20.0f);
        const float scale = std::exp(3.0f) - 1.0f;
        std::vector<float> expected(4800);
        for (int k = 0; k < 4800; ++k)
            expected[size_t(k)] = float(period[k]) * gain
                * ((std::exp(3.0f * float(k) / 48000.0f) - 1.0f) / scale);
        const std::vector<float> captured = capture.collected.take();
        const auto start = std::search(captured.begin(), captured.end(), expected.begin(), expected.end());
        QVERIFY2(start != captured.end(), "the periodic noise did not start with a fresh fade");

        // A channel change needs no restart: the next block follows it.
        generator.setChannels({1});
        QTRY_COMPARE(thread->channels(), QSet<int>({1}));
        QVERIFY(cardA->waitTicks(4));
        capture.collected.take();
        QVERIFY(cardA->waitTicks(5));
        const std::vector<float> silent = capture.collected.take();
        QVERIFY(!silent.empty());
        QVERIFY(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0.0f; }));
        QCOMPARE(cardA->openCalls(), opens + 1);

        // Another card: the old stream closes, the new one opens at that card's rate.
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);
        QSignalSpy deviceSpy(&generator, &Generator::deviceIdChanged);
        generator.setDeviceId("loopback-b");
        QVERIFY(deviceSpy.wait(2000));
        QCOMPARE(deviceSpy.at(0).at(0).toString(), QStringLiteral("loopback-b"));
        QCOMPARE(cardA->openStreamCount(), 1);  // only the capture is left
        QCOMPARE(cardB->openStreamCount(), 1);
        QCOMPARE(rateSpy.count(), 1);
        QCOMPARE(rateSpy.at(0).at(0).toUInt(), 44100u);
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

    void enablingWithoutChannelsWarnsAndStillLoopsBack()
    {
        Generator generator;
        QVERIFY(waitReady(generator));
        Collector loopback;
        connect(generator.generatorThread(), &GeneratorThread::sampleOut, this,
                [&loopback](float s) { loopback.add(s); }, Qt::DirectConnection);
        QTest::ignoreMessage(QtWarningMsg, "[Generator] Output channels are not set");
        generator.setEnabled(true);
        QVERIFY(QTest::qWaitFor([&] { return loopback.size() > 960; }, 5000));
        generator.setEnabled(false);
    }

    void destroyingAPlayingGeneratorClosesItsStream()
    {
        auto generator = std::make_unique<Generator>();
        QVERIFY(waitReady(*generator));
        QTest::ignoreMessage(QtWarningMsg, "[Generator] Output channels are not set");
        generator->setEnabled(true);
        QCOMPARE(cardA->openStreamCount(), 1);
        QVERIFY(cardA->waitTicks(3));
        generator.reset();
        QCOMPARE(cardA->openStreamCount(), 0);
    }

    void networkPacing_data()
    {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("due");
        QTest::newRow("start: 10 ms ahead") << qint64(0) << qint64(0) << qint64(480);
        QTest::newRow("one tick") << qint64(5) << qint64(480) << qint64(240);
        QTest::newRow("steady") << qint64(1000) << qint64(48240) << qint64(240);
        QTest::newRow("ahead") << qint64(1000) << qint64(48480) << qint64(0);
        QTest::newRow("far ahead") << qint64(1000) << qint64(50000) << qint64(0);
        QTest::newRow("after a pause: capped") << qint64(1200) << qint64(48480) << qint64(4800);
        QTest::newRow("still catching up") << qint64(1205) << qint64(53280) << qint64(4800);
        QTest::newRow("caught up") << qint64(1210) << qint64(58080) << qint64(480);
    }

    void networkPacing()
    {
        QFETCH(qint64, elapsedMs);
        QFETCH(qint64, sent);
        QFETCH(qint64, due);
        QCOMPARE(GeneratorThread::networkFramesDue(elapsedMs, sent), due);
    }

    void networkOutputFeedsTheSender()
    {
        audio::aes67::Sender* sender = audio::aes67::Sender::instance();
        sender->setRunning(true);
        std::vector<float> drain(8192 * 8);
        sender->ring().read(drain.data(), 8192);

        Generator generator;
        QVERIFY(waitReady(generator));
        GeneratorThread* thread = generator.generatorThread();
        thread->setFadeDuration(0.0f);
        generator.setType(1);
        generator.setChannels({0, 1, 2, 3, 4, 5, 6, 7});
        generator.setDeviceId("loopback-b");  // 44.1 kHz first
        QTRY_COMPARE(generator.deviceId(), QStringLiteral("loopback-b"));
        generator.setEnabled(true);
        QCOMPARE(thread->sampleRate(), 44100u);
        QVERIFY(cardB->waitTicks(3));

        Collector loopback;
        connect(thread, &GeneratorThread::sampleOut, this, [&loopback](float s) { loopback.add(s); },
                Qt::DirectConnection);
        QSignalSpy rateSpy(thread, &GeneratorThread::sampleRateChanged);
        const qint64 written = sender->ring().writeCount();
        const qint64 dropped = sender->droppedFrames();
        QElapsedTimer clock;
        clock.start();
        generator.setDeviceId(network);
        QTRY_COMPARE(generator.deviceId(), network);
        QCOMPARE(cardB->openStreamCount(), 0);
        QCOMPARE(rateSpy.count(), 1);
        QCOMPARE(rateSpy.at(0).at(0).toUInt(), 48000u);

        QTest::qWait(1000);
        generator.setEnabled(false);  // no block reaches the sender after this returns
        const qint64 elapsed = clock.elapsed();
        const qint64 pushed = sender->ring().writeCount() - written;
        // 48 frames per ms plus 10 ms ahead, never more; under load it may lag, not lead.
        QVERIFY2(pushed <= elapsed * 48 + 480, qPrintable(QString("%1 frames in %2 ms").arg(pushed).arg(elapsed)));
        QVERIFY2(pushed >= elapsed * 24, qPrintable(QString("%1 frames in %2 ms").arg(pushed).arg(elapsed)));
        QVERIFY(sender->rateMismatch());  // the 44.1 kHz blocks played on the card were refused

        // Nobody drained the ring: it holds the newest 8192 frames and counts the rest.
        QCOMPARE(sender->ring().channelCount(), 8);
        QCOMPARE(sender->ring().available(), 8192);
        QCOMPARE(sender->droppedFrames() - dropped, pushed - 8192);
        std::vector<float> frames(8192 * 8);
        QCOMPARE(sender->ring().read(frames.data(), 8192), 8192);
        const std::vector<float> played = loopback.take();
        QVERIFY(played.size() >= 8192);
        for (size_t i = 0; i < 8192; ++i) {
            const float s = played[played.size() - 8192 + i];
            for (int c = 0; c < 8; ++c)
                QCOMPARE(frames[i * 8 + size_t(c)], s);
        }
        sender->setRunning(false);
    }
};

SNT_TEST_MAIN(GeneratorTest)
#include "GeneratorTest.moc"
