#include "audio/phone/PhoneInputStream.h"
#include "LogCapture.h"
#include "audio/phone/AudioStreamServer.h"
#include "audio/phone/PhoneAudioPlugin.h"
#include "tests/support/PhoneEmulator.h"
#include "tests/support/TestMain.h"

#include <QBuffer>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <memory>

using audio::AudioStreamServer;
using audio::PhoneAudioPlugin;
using audio::PhoneInputStream;
using snt::test::PhoneEmulator;

namespace {

const QString phoneId = QStringLiteral("phone-0123456789");

// The emulator's "pattern": a different 16-bit value for every sample index.
float pattern(qint64 n)
{
    return float(((n * 40503 + 12345) % 65536) - 32768) / 32768.0f;
}

// A sink that keeps every sample written to it and the size of each write.
class Recorder : public QIODevice
{
public:
    Recorder() { open(QIODevice::WriteOnly); }
    QList<float> samples;
    QList<qint64> writes;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const auto *values = reinterpret_cast<const float *>(data);
        samples.append(QList<float>(values, values + size / qint64(sizeof(float))));
        writes.append(size / qint64(sizeof(float)));
        return size;
    }
};

} // namespace

// The phone input stream against the phone emulator, on a clock the test advances: every step
// the phone sends what its own clock says is due, then the stream pumps once.
class PhoneInputStreamTest : public QObject
{
    Q_OBJECT

private:
    AudioStreamServer *server_ = AudioStreamServer::instance();
    std::unique_ptr<PhoneEmulator> phone_;
    qint64 now_ = 0;
    bool phoneSends_ = true;

    std::unique_ptr<PhoneInputStream> makeStream(Recorder &sink, quint32 rate = 48000)
    {
        now_ = 0;
        return std::make_unique<PhoneInputStream>(audio::Format{rate, 1}, phoneId, &sink, server_,
                                                  [this] { return now_; });
    }

    // Connects the emulator as the phone, streaming `signal` once the clock runs.
    bool connectPhone(const QJsonObject &signal = {{"kind", "pattern"}}, int rate = 48000)
    {
        phone_ = std::make_unique<PhoneEmulator>(PHONE_EMULATOR_SCRIPT);
        return phone_->open(server_->wsPort(), phoneId, rate) && phone_->signal(signal)
               && snt::test::waitUntil([this] { return server_->hasClient(phoneId); },
                                       PhoneEmulator::timeoutMs);
    }

    // `count` steps of `ms` each.
    void run(PhoneInputStream &stream, int count, qint64 ms = 10)
    {
        for (int i = 0; i < count; ++i) {
            now_ += ms;
            if (phoneSends_) {
                const qint64 end = phone_->advance(now_);
                QVERIFY(end >= 0);
                QVERIFY(snt::test::waitUntil(
                        [&] { return qint64(server_->writeIndex(phoneId)) >= end; },
                        PhoneEmulator::timeoutMs));
            }
            stream.pump();
        }
    }

    // The recording must be the phone's samples in order, interrupted only by silence; answers
    // how many of the phone's samples it holds.
    static qint64 patternRunsIn(const QList<float> &recording)
    {
        qint64 next = 0;
        for (qsizetype i = 0; i < recording.size(); ++i) {
            if (recording[i] == pattern(next))
                ++next;
            else if (recording[i] != 0.0f)
                return -1 - i;
        }
        return next;
    }

private slots:
    void initTestCase() { QVERIFY(server_->listen(QHostAddress::LocalHost, 0, 0, 0)); }

    void init() { phoneSends_ = true; }

    void cleanup()
    {
        phone_.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!server_->hasClient(phoneId), PhoneEmulator::timeoutMs);
    }

    void cleanupTestCase() { server_->stop(); }

    // Every pump writes what the elapsed time calls for, carrying fractions; a stall is capped
    // at 200 ms and the rest is lost; a clock that did not move counts as 1 ms.
    void pacingFollowsTheClock_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("stepsMs");
        QTest::addColumn<QList<qint64>>("writes");
        QTest::newRow("48 kHz") << 48000 << QList<int>{10, 10, 10} << QList<qint64>{480, 480, 480};
        QTest::newRow("44.1 kHz, half samples carried")
                << 44100 << QList<int>{5, 5, 5, 5} << QList<qint64>{220, 221, 220, 221};
        QTest::newRow("stall") << 48000 << QList<int>{10, 500, 10} << QList<qint64>{480, 9600, 480};
        QTest::newRow("clock stood still") << 48000 << QList<int>{10, 0} << QList<qint64>{480, 48};
    }

    void pacingFollowsTheClock()
    {
        QFETCH(int, rate);
        QFETCH(QList<int>, stepsMs);
        QFETCH(QList<qint64>, writes);
        phoneSends_ = false;
        Recorder sink;
        auto stream = makeStream(sink, quint32(rate));
        for (int ms : stepsMs)
            run(*stream, 1, ms);
        QCOMPARE(sink.writes, writes);
    }

    // With nothing arriving the stream writes silence and gives up prefilling after 5 s, with
    // both filters at the average buffered time: 0 ms. The empty ring then underflows within
    // the hold time, which sends the stream back to prefilling, now towards 350 ms.
    void prefillGivesUpAfterFiveSeconds()
    {
        phoneSends_ = false;
        Recorder sink;
        auto stream = makeStream(sink);
        run(*stream, 40, 125);
        QVERIFY(stream->prefilling());
        run(*stream, 1, 125);
        QVERIFY(!stream->prefilling());
        QCOMPARE(stream->waterF(), 0.0);
        QCOMPARE(stream->waterS(), 0.0);
        run(*stream, 1, 125);
        QVERIFY(stream->prefilling() && stream->recovering());
        QCOMPARE(sink.samples, QList<float>(42 * 6000, 0.0f));
    }

    // At the same clock rate the phone's samples come out unchanged after 100 ms of silence.
    void passesSamplesBitExactAtZeroPpm()
    {
        QVERIFY(connectPhone());
        Recorder sink;
        auto stream = makeStream(sink);
        run(*stream, 300);
        QCOMPARE(sink.samples.size(), 300 * 480);
        QCOMPARE(sink.samples.mid(0, 4800), QList<float>(4800, 0.0f));
        QCOMPARE(patternRunsIn(sink.samples.mid(4800)), qint64(290 * 480));
        QCOMPARE(stream->ratePpm(), 0.0);
        QCOMPARE(stream->underflowSamples(), 0u);
        QCOMPARE(stream->flushEvents(), 0u);
    }

    // A phone clock 1000 ppm fast is followed within two minutes, without a flush or an
    // underflow, and the status line reports it every 1000 pumps.
    void tracksAFastPhoneClock()
    {
        QVERIFY(connectPhone({{"kind", "pattern"}, {"ppm", 1000.0}}));
        LogCapture log;
        Recorder sink;
        auto stream = makeStream(sink);
        run(*stream, 12000);
        QVERIFY2(std::abs(stream->ratePpm() - 1000.0) < 60.0,
                 qPrintable(QString::number(stream->ratePpm())));
        QCOMPARE(stream->underflowSamples(), 0u);
        QCOMPARE(stream->flushEvents(), 0u);
        QCOMPARE(sink.samples.size(), 12000 * 480);
        const QStringList status = log.lines().filter("[PhoneAudio] pump phone-01... buffered:");
        QCOMPARE(status.size(), 11);
        const QRegularExpression fields(
                R"(^\[PhoneAudio\] pump phone-01\.\.\. buffered: \d+ ms waterF: \d+\.\d )"
                R"(waterS: \d+\.\d slopePpm: -?\d+\.\d ratePpm: (\d+\.\d) underflowSamples: 0 )"
                R"(flushEvents: 0$)");
        const QRegularExpressionMatch last = fields.match(status.last());
        QVERIFY2(last.hasMatch() && std::abs(last.captured(1).toDouble() - 1000.0) < 100.0,
                 qPrintable(status.last()));
    }

    // A phone that stalls soon after the start runs the buffer dry: the samples that were still
    // there go out, silence makes up the rest, and the stream refills to 350 ms from then on. It
    // never falls behind the clock, and no sample of the phone is lost.
    void underflowWhileHoldingRefillsWithoutFallingBehind()
    {
        QVERIFY(connectPhone());
        Recorder sink;
        auto stream = makeStream(sink);
        run(*stream, 50);
        phoneSends_ = false;
        run(*stream, 30);
        QVERIFY(stream->recovering() && stream->prefilling());
        QVERIFY(stream->underflowSamples() > 0);
        phoneSends_ = true;
        run(*stream, 100);
        QVERIFY(!stream->prefilling());
        QCOMPARE(sink.samples.size(), 180 * 480);
        const qint64 passed = patternRunsIn(sink.samples);
        QVERIFY2(passed > 100 * 480, qPrintable(QString::number(passed)));
    }

    // 1.2 s of audio arriving at once is flushed down to the 100 ms target.
    void flushesAFloodedBuffer()
    {
        QVERIFY(connectPhone());
        Recorder sink;
        auto stream = makeStream(sink);
        run(*stream, 100);
        const qint64 end = phone_->advance(now_ + 1200);
        QVERIFY(snt::test::waitUntil([&] { return qint64(server_->writeIndex(phoneId)) >= end; },
                                     PhoneEmulator::timeoutMs));
        phoneSends_ = false;
        run(*stream, 1);
        QCOMPARE(stream->flushEvents(), 1u);
        QCOMPARE(stream->waterF(), 100.0);
        QCOMPARE(server_->available(phoneId), 4800 - 480);
    }

    // The plugin lists connected phones as mono inputs and opens streams only for them.
    void pluginOpensConnectedPhones()
    {
        PhoneAudioPlugin plugin;
        QSignalSpy changed(&plugin, &audio::Plugin::deviceListChanged);
        QVERIFY(plugin.devices().isEmpty());
        QVERIFY(connectPhone({{"kind", "pattern"}}, 44100));
        QCOMPARE(changed.count(), 1);
        const audio::DeviceInfo row{phoneId, "Emulated phone", 44100, "Phone", {"1"}, {}};
        QCOMPARE(plugin.devices(), audio::DeviceList{row});
        QCOMPARE(plugin.defaultDevice(audio::Plugin::Input), QString());
        QCOMPARE(plugin.preferredFormat(phoneId, audio::Plugin::Input), (audio::Format{44100, 1}));
        QCOMPARE(plugin.preferredFormat(phoneId, audio::Plugin::Output), (audio::Format{48000, 1}));
        QCOMPARE(plugin.preferredFormat("other", audio::Plugin::Input), (audio::Format{48000, 1}));

        LogCapture log;
        QBuffer sink;
        QVERIFY(!plugin.open(phoneId, audio::Plugin::Output, {}, &sink));
        QVERIFY(!plugin.open(phoneId, audio::Plugin::Input, {}, nullptr));
        QVERIFY(log.lines().isEmpty());
        QVERIFY(!plugin.open("other", audio::Plugin::Input, {}, &sink));
        QCOMPARE(log.lines(), QStringList{"[PhoneAudio] open failed, phone not connected: other"});

        QPointer<audio::Stream> stream = plugin.open(phoneId, audio::Plugin::Input, {}, &sink);
        QVERIFY(stream);
        QCOMPARE(stream->format(), (audio::Format{44100, 1}));
        QCOMPARE(sink.openMode() & QIODevice::ReadWrite, QIODevice::WriteOnly);
        QVERIFY(log.contains("[PhoneAudio] input stream opened for phone-01... 44100 Hz mono"));
        QTRY_VERIFY(sink.size() >= 441 * 5); // pumping on its own clock
        stream->close();
        QVERIFY(!sink.isOpen());
        QTRY_VERIFY(!stream);
        QVERIFY(log.contains("[PhoneAudio] input stream closed: phone-01... underflowSamples: 0 "
                             "flushEvents: 0"));

        phone_.reset();
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY(plugin.devices().isEmpty());
    }
};

SNT_TEST_MAIN(PhoneInputStreamTest)
#include "PhoneInputStreamTest.moc"
