#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/Stream.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QMutex>
#include <QSignalSpy>
#include <QTimer>
#include <future>

using audio::Client;
using snt::test::LoopbackCard;

namespace {

// A backend whose capture sinks the test writes into by hand, for exact block layouts. Device
// "manual-N" has N channels.
class ManualCard : public audio::Plugin
{
public:
    QString name() const override { return "Manual"; }
    audio::DeviceList devices() override
    {
        return {{"manual-1", "Mono", 48000, "Manual", {"1"}, {}},
                {"manual-2", "Stereo", 48000, "Manual", {"1", "2"}, {}},
                {"manual-3", "Three", 48000, "Manual", {"1", "2", "3"}, {}}};
    }
    audio::DeviceInfo::Id defaultDevice(const Direction &) override { return "manual-2"; }
    audio::Format preferredFormat(const audio::DeviceInfo::Id &id, const Direction &) override
    {
        return audio::Format{48000, uint32_t(id.right(1).toUInt())};
    }
    audio::Stream *open(const QString &id, const Direction &, const audio::Format &format,
                        QIODevice *device) override
    {
        ++opens;
        lastId = id;
        if (std::exchange(failNext, false))
            return nullptr;
        device->open(QIODevice::WriteOnly);
        sink = device;
        stream = new audio::Stream(format);
        // Torn down at once, as a backend that deletes its stream inside the close may do.
        connect(stream, &audio::Stream::closeMe, this, [this] {
            delete std::exchange(stream, nullptr);
            sink = nullptr;
        });
        return stream;
    }

    int opens = 0;
    QString lastId;
    bool failNext = false;
    QIODevice *sink = nullptr;
    audio::Stream *stream = nullptr;
};

// An endless render source: channel 0 plays the ramp k/65536 (exact in float, unique over
// 65536 frames), channel 1 its negative.
class RampSource : public QIODevice
{
public:
    static float ramp(qint64 frame) { return float(frame % 65536) / 65536.0f; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 frames = maxSize / qint64(2 * sizeof(float));
        auto *out = reinterpret_cast<float *>(data);
        for (qint64 f = 0; f < frames; ++f, ++frame_) {
            out[2 * f] = ramp(frame_);
            out[2 * f + 1] = -ramp(frame_);
        }
        return frames * qint64(2 * sizeof(float));
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 frame_ = 0;
};

// What the front end hands its sink, on whatever thread: the blocks' sizes and the gaps in the
// order they came, and the two channels joined.
class RecordingSink : public audio::CaptureSink
{
public:
    void captured(std::span<const float> d, std::span<const float> r) override
    {
        QMutexLocker lock(&mutex_);
        events_ << QString::number(d.size());
        data_.append(QList<float>(d.begin(), d.end()));
        reference_.append(QList<float>(r.begin(), r.end()));
    }
    void captureLost(qint64 frames) override
    {
        QMutexLocker lock(&mutex_);
        events_ << QString("gap %1").arg(frames);
    }
    QStringList events() const
    {
        QMutexLocker lock(&mutex_);
        return events_;
    }
    QList<float> data() const
    {
        QMutexLocker lock(&mutex_);
        return data_;
    }
    QList<float> reference() const
    {
        QMutexLocker lock(&mutex_);
        return reference_;
    }

private:
    mutable QMutex mutex_;
    QStringList events_;
    QList<float> data_;
    QList<float> reference_;
};

ManualCard *manual = nullptr;
LoopbackCard *loopback = nullptr;

} // namespace

class AudioInputTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<Client> client; // a registry of the test's own cards, passed to every input

private slots:
    void initTestCase()
    {
        client = std::make_shared<Client>(QList<Client::PluginFactory>{
                [] {
                    auto p = std::make_shared<ManualCard>();
                    manual = p.get();
                    return p;
                },
                [] {
                    auto p = std::make_shared<LoopbackCard>();
                    loopback = p.get();
                    return p;
                },
        });
    }

    void blocksAreSplitIntoMeasurementAndReference_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("measurement");
        QTest::addColumn<int>("reference");
        QTest::addColumn<int>("dataChannel"); // -1: silence
        QTest::addColumn<int>("referenceChannel");
        QTest::newRow("stereo 0/1") << "manual-2" << 0 << 1 << 0 << 1;
        QTest::newRow("stereo 1/0") << "manual-2" << 1 << 0 << 1 << 0;
        QTest::newRow("mono defaults") << "manual-1" << 0 << 1 << 0 << -1;
        QTest::newRow("reference out of range, measurement 1") << "manual-2" << 1 << 5 << 1 << 0;
        QTest::newRow("reference out of range, measurement 0") << "manual-3" << 0 << -1 << 0 << 1;
        QTest::newRow("measurement out of range") << "manual-2" << 3 << 9 << -1 << 0;
        QTest::newRow("three channels 2/1") << "manual-3" << 2 << 1 << 2 << 1;
    }

    // Sample (frame f, channel c) is 100 * (c + 1) + f; a partial frame at the end is ignored.
    void blocksAreSplitIntoMeasurementAndReference()
    {
        QFETCH(QString, device);
        QFETCH(int, measurement);
        QFETCH(int, reference);
        QFETCH(int, dataChannel);
        QFETCH(int, referenceChannel);
        RecordingSink sink;
        AudioInput input(&sink, client);
        input.setDeviceId(device);
        input.setMeasurementChannel(measurement);
        input.setReferenceChannel(reference);
        input.setActive(true);
        QVERIFY(input.isActive());
        const int channels = device.right(1).toInt(), frames = 5;
        const auto expected = [](int channel, int f) {
            return channel < 0 ? 0.0f : float(100 * (channel + 1) + f);
        };
        QList<float> interleaved;
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                interleaved << expected(c, f);
        QSignalSpy all(&input, &AudioInput::allChannelsDataReady);
        manual->sink->write(QByteArray(reinterpret_cast<const char *>(interleaved.constData()),
                                       interleaved.size() * qsizetype(sizeof(float)))
                            + QByteArray(channels * qsizetype(sizeof(float)) - 2, '\x7f'));
        QCOMPARE(sink.events(), QStringList{QString::number(frames)});
        const QList<float> data = sink.data();
        const QList<float> ref = sink.reference();
        const auto split = all[0][0].value<QList<QList<float>>>();
        QCOMPARE(data.size(), frames);
        QCOMPARE(ref.size(), frames);
        QCOMPARE(split.size(), channels);
        for (int f = 0; f < frames; ++f) {
            QCOMPARE(data[f], expected(dataChannel, f));
            QCOMPARE(ref[f], expected(referenceChannel, f));
            for (int c = 0; c < channels; ++c)
                QCOMPARE(split[c].value(f), expected(c, f));
        }
        input.setActive(false);
        QVERIFY(!manual->stream);
    }

    // The front end's buffers have room for 100 ms: a longer write comes out as consecutive
    // blocks holding every frame in order, and a gap the stream reports comes out between the
    // blocks it falls between.
    void blocksAndGapsKeepTheirOrder()
    {
        RecordingSink sink;
        AudioInput input(&sink, client);
        input.setDeviceId("manual-2");
        input.setActive(true);
        QList<float> interleaved;
        for (int f = 0; f < 10000; ++f)
            interleaved << float(f) << -float(f);
        const QByteArray bytes(reinterpret_cast<const char *>(interleaved.constData()),
                               interleaved.size() * qsizetype(sizeof(float)));
        manual->sink->write(bytes.left(9000 * 2 * sizeof(float)));
        manual->stream->reportDiscontinuity(960);
        manual->sink->write(bytes.mid(9000 * 2 * sizeof(float)));
        QCOMPARE(sink.events(), (QStringList{"4800", "4200", "gap 960", "1000"}));
        const QList<float> received = sink.data();
        for (int f = 0; f < 10000; ++f)
            QCOMPARE(received[f], float(f));
        input.setActive(false);
    }

    // A stream is opened only while active, once per device: a new id while inactive waits for
    // the activation, the same id again neither closes nor reopens.
    void opensOnlyWhenActiveAndOnce()
    {
        AudioInput input(nullptr, client);
        QCOMPARE(input.deviceId(), QString("manual-2")); // the default input
        QCOMPARE(input.sampleRate(), 0u);
        const int opens = manual->opens;
        input.setDeviceId("manual-3");
        QCOMPARE(manual->opens, opens);
        input.setActive(true);
        QCOMPARE(manual->opens, opens + 1);
        QCOMPARE(manual->lastId, QString("manual-3"));
        QCOMPARE(input.sampleRate(), 48000u);
        audio::Stream *stream = manual->stream;
        input.setDeviceId("manual-3");
        input.setActive(true);
        QCOMPARE(manual->opens, opens + 1);
        QCOMPARE(manual->stream, stream);
    }

    void failedOpeningsReportOnceAndLeaveItInactive()
    {
        AudioInput input(nullptr, client);
        QSignalSpy errors(&input, &AudioInput::errorOccurred);
        manual->failNext = true;
        QTest::ignoreMessage(QtWarningMsg, "AudioInput: Failed to open audio input!");
        input.setActive(true);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors[0][0].toString(), QString("无法打开音频输入设备"));
        QVERIFY(!input.isActive());
        QCOMPARE(input.sampleRate(), 0u);
        input.setDeviceId("no-such-device");
        QTest::ignoreMessage(QtWarningMsg, "AudioInput: Failed to open audio input!");
        input.setActive(true);
        QCOMPARE(errors.count(), 2);

        input.setDeviceId("manual-2");
        input.setActive(true);
        QVERIFY(input.isActive());
        manual->failNext = true;
        QTest::ignoreMessage(QtWarningMsg, "AudioInput: Failed to reopen with new device!");
        input.setDeviceId("manual-1");
        QCOMPARE(errors.count(), 3);
        QVERIFY(!input.isActive());
        QVERIFY(!manual->stream);
    }

    // An input that opened but delivers nothing is named once it has been silent for two
    // seconds: an error for the user and a log line with the device. Frames flowing again re-arm
    // the watch; a stream that keeps delivering is never named.
    void aDeviceThatDeliversNothingIsNamed()
    {
        AudioInput input(nullptr, client);
        input.setDeviceId("manual-2");
        input.setActive(true);
        QVERIFY(manual->stream);
        QSignalSpy errors(&input, &AudioInput::errorOccurred);
        LogCapture log;
        QTimer delivering; // the backend moving a 10 ms period at a time
        connect(&delivering, &QTimer::timeout, [] { manual->stream->countFrames(480); });
        delivering.start(10);
        QTest::qWait(3000);
        QCOMPARE(errors.count(), 0);

        delivering.stop();
        QElapsedTimer silent;
        silent.start();
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 5000);
        QVERIFY2(silent.elapsed() >= 2000 && silent.elapsed() < 3000,
                 qPrintable(QString::number(silent.elapsed())));
        QCOMPARE(errors[0][0].toString(), QStringLiteral("声卡没有送来声音，检查设备或换一个声卡"));
        QVERIFY2(log.contains("AudioInput: no frames from manual-2 Stereo for 2000 ms"),
                 log.text());
        QTest::qWait(1000);
        QCOMPARE(errors.count(), 1);
        manual->stream->countFrames(480);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 2, 5000);
        // Closed, it is watched no more.
        input.setActive(false);
        QTest::qWait(2500);
        QCOMPARE(errors.count(), 2);
    }

    // A backend whose open waits on its own thread must not find the front end's lock taken.
    void backendOpenRunsWithoutTheFrontEndLock()
    {
        AudioInput input(nullptr, client);
        input.setDeviceId(loopback->deviceId());
        std::future<unsigned> reading; // outlives the hook, so a blocked read cannot hang it
        bool answered = false;
        loopback->setOpenHook([&] {
            reading = std::async(std::launch::async, [&input] { return input.sampleRate(); });
            answered = reading.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        });
        input.setActive(true);
        loopback->setOpenHook({});
        QVERIFY(answered);
        QVERIFY(input.isActive());
    }

    // The queued rate notice must not reach back into a stream that is gone by then.
    void rateChangeSurvivesTheStreamsDeletion()
    {
        AudioInput input(nullptr, client);
        input.setActive(true);
        QSignalSpy rate(&input, &AudioInput::sampleRateChanged);
        manual->stream->setSampleRate(44100);
        QCOMPARE(input.sampleRate(), 44100u);
        input.setActive(false); // the manual card deletes the stream right here
        QVERIFY(!manual->stream);
        QTRY_COMPARE(rate.count(), 1);
        QCOMPARE(rate[0][0].toUInt(), 44100u);
    }

    // Moved from the manual card onto the loopback card while a ramp plays, the front end gets
    // the ramp back bit-exact, without gaps, and the measured channel at a constant 100 frames
    // behind the reference; moving off again tears the loopback stream down.
    void rampComesBackBitExactAcrossDeviceChanges()
    {
        LoopbackCard::Path delayed;
        delayed.gain = 0.5f;
        delayed.delayFrames = 100;
        loopback->setPath(0, delayed);
        RampSource source;
        audio::Stream *output
                = client->openOutput(loopback->deviceId(), &source, audio::Format{48000, 2});
        QVERIFY(output);
        RecordingSink sink;
        AudioInput input(&sink, client);
        input.setActive(true);
        const int teardowns = loopback->teardowns();
        input.setDeviceId(loopback->deviceId());
        QVERIFY(input.isActive());
        QVERIFY(!manual->stream);
        QCOMPARE(loopback->openStreamCount(), 2);
        // More than one period of the ramp, so its start is in there whatever the timing.
        QTRY_VERIFY_WITH_TIMEOUT(sink.data().size() > 70000, 20000);
        input.setDeviceId("manual-1");
        QVERIFY(input.isActive());
        QTRY_COMPARE(loopback->teardowns(), teardowns + 1);
        output->close();
        loopback->setPath(0, LoopbackCard::Path{});
        QTRY_COMPARE(loopback->openStreamCount(), 0);

        const QList<float> data = sink.data();
        const QList<float> reference = sink.reference();
        qsizetype start = 1; // where the ramp (or a wrap of it) begins: 0, then -1/65536
        while (start < reference.size()
               && !(reference[start] == -RampSource::ramp(1) && reference[start - 1] == 0.0f))
            ++start;
        QVERIFY(--start < 65536);
        QList<float> expected(reference.size() - start); // compared as lists: bit for bit
        for (qsizetype i = 0; i < expected.size(); ++i)
            expected[i] = -RampSource::ramp(i);
        QCOMPARE(reference.mid(start), expected);
        for (float &value : expected)
            value *= -0.5f;
        QCOMPARE(data.mid(start + 100), expected.first(expected.size() - 100));
    }

    void repeatedSwitchingWhileStreamingLeavesNothingOpen()
    {
        RampSource source;
        audio::Stream *output
                = client->openOutput(loopback->deviceId(), &source, audio::Format{48000, 2});
        QVERIFY(output);
        {
            AudioInput input(nullptr, client);
            input.setDeviceId(loopback->deviceId());
            for (int i = 0; i < 50; ++i) {
                input.setActive(true);
                QVERIFY(input.isActive());
                QTest::qWait(i % 3);
                input.setActive(false);
            }
            input.setActive(true);
        } // destroyed while active: the stream must be closed with it
        output->close();
        QTRY_COMPARE(loopback->openStreamCount(), 0);
        QVERIFY(loopback->waitTicks(2));
    }
};

SNT_TEST_MAIN(AudioInputTest)
#include "AudioInputTest.moc"
