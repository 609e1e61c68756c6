#include "audio/wasapi/WasapiPlugin.h"
#include "audio/Stream.h"
#include "audio/StreamTiming.h"
#include "tests/audio/LogCapture.h"
#include "tests/platform/FakeAudioSystem.h"
#include "tests/support/TestMain.h"

#include <QIODevice>
#include <QPointer>
#include <QSemaphore>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

using audio::Plugin;
using audio::WasapiPlugin;
using platform::DataFlow;
using platform::WaveFormat;
using snt::test::FakeAudioClient;
using snt::test::FakeAudioSystem;
namespace result = platform::result;

Q_DECLARE_METATYPE(WaveFormat)

namespace {

// A device for either direction. Reads deliver `bytes` of a constant, then nothing; the first
// read can be held until the test releases it. Writes (from the stream thread) are kept.
class TestDevice : public QIODevice
{
public:
    explicit TestDevice(qint64 bytes = 0, float value = 0)
        : left_(bytes)
        , value_(value)
    { }
    bool blockFirstRead = false;
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> openDuringRead{true};

    QList<float> samples() const
    {
        QMutexLocker lock(&mutex_);
        return samples_;
    }
    // The stream timing each read or write met, in order.
    QList<audio::StreamTiming> timings() const
    {
        QMutexLocker lock(&mutex_);
        return timings_;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        noteTiming();
        if (std::exchange(blockFirstRead, false)) {
            entered.release();
            release.tryAcquire(1, 10000);
            openDuringRead.store(isOpen());
        }
        const qint64 n = std::min(maxSize, left_) / qint64(sizeof(float)) * qint64(sizeof(float));
        for (qint64 i = 0; i < n; i += qint64(sizeof(float)))
            std::memcpy(data + i, &value_, sizeof(float));
        left_ -= n;
        return n;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        noteTiming();
        QMutexLocker lock(&mutex_);
        const auto *f = reinterpret_cast<const float *>(data);
        samples_.append(QList<float>(f, f + size / qint64(sizeof(float))));
        return size;
    }

private:
    void noteTiming()
    {
        QMutexLocker lock(&mutex_);
        if (const audio::StreamTiming *timing = audio::currentStreamTiming())
            timings_.append(*timing);
    }

    qint64 left_;
    const float value_;
    mutable QMutex mutex_;
    QList<float> samples_;
    QList<audio::StreamTiming> timings_;
};

QByteArray floats(const QList<float> &values)
{
    return QByteArray(reinterpret_cast<const char *>(values.constData()),
                      values.size() * qsizetype(sizeof(float)));
}

WaveFormat extensible(uint32_t rate, uint16_t channels, uint32_t mask)
{
    WaveFormat f = WaveFormat::extensibleFloat(rate, channels);
    f.channelMask = mask;
    return f;
}

std::shared_ptr<FakeAudioSystem> makeSystem()
{
    auto system = std::make_shared<FakeAudioSystem>();
    const WaveFormat speakers = WaveFormat::extensibleFloat(44100, 8);
    const WaveFormat mics = WaveFormat::extensibleFloat(96000, 4);
    const WaveFormat plainPcm16{WaveFormat::Pcm, 2, 48000, 192000, 4, 16};
    system->addEndpoint({"render-8ch", "Speakers", DataFlow::Render, speakers, speakers});
    system->addEndpoint({"capture-4ch", "Mic array", DataFlow::Capture, mics, mics});
    system->addEndpoint({"capture-empty", "No format", DataFlow::Capture, {}, plainPcm16});
    system->addEndpoint({"render-8ch", "Speakers again", DataFlow::Render, {}, plainPcm16});
    system->addEndpoint({"render-plain", "Line out", DataFlow::Render, plainPcm16, plainPcm16});
    system->setDefault(DataFlow::Render, "render-plain");
    system->setDefault(DataFlow::Capture, "capture-4ch");
    return system;
}

QString line(const QString &label, uint32_t code, const QString &message, const QString &name)
{
    return QStringLiteral("%1 0x%2 %3 %4")
            .arg(label, QString::number(code, 16).toUpper(), message, name);
}

audio::Stream *openCapture(WasapiPlugin &plugin, QIODevice *sink)
{
    return plugin.open("capture-4ch", Plugin::Input, {96000, 2}, sink);
}

} // namespace

class WasapiPluginTest : public QObject
{
    Q_OBJECT

private slots:
    void listsEndpointsWithEngineFormats()
    {
        WasapiPlugin plugin(makeSystem());
        // A second endpoint with an id already listed is skipped; render offers two channels
        // at most; without a device format the rate is 48 kHz and there are no channels.
        const audio::DeviceList expected{
                {"render-8ch", "Speakers", 44100, "WASAPI", {}, {"1", "2"}},
                {"capture-4ch", "Mic array", 96000, "WASAPI", {"1", "2", "3", "4"}, {}},
                {"capture-empty", "No format", 48000, "WASAPI", {}, {}},
                {"render-plain", "Line out", 48000, "WASAPI", {}, {"1", "2"}}};
        QCOMPARE(plugin.devices(), expected);
        QCOMPARE(plugin.defaultDevice(Plugin::Output), QStringLiteral("render-plain"));
        QCOMPARE(plugin.defaultDevice(Plugin::Input), QStringLiteral("capture-4ch"));
        QCOMPARE(plugin.preferredFormat("render-8ch", Plugin::Output), (audio::Format{44100, 2}));
        QCOMPARE(plugin.preferredFormat("capture-4ch", Plugin::Input), (audio::Format{96000, 4}));
        QCOMPARE(plugin.preferredFormat("capture-4ch", Plugin::Output), (audio::Format{96000, 0}));
        QCOMPARE(plugin.preferredFormat("nothing", Plugin::Input), audio::Format{});
    }

    // A device that plays and records has one id for both its sides: one row with both channel
    // lists, and each direction opens its own side (their mix rates tell them apart). The id a
    // backend lists is its id now.
    void aDeviceThatPlaysAndRecordsIsOneRowOpenedOnEitherSide()
    {
        auto system = makeSystem();
        const WaveFormat out = WaveFormat::extensibleFloat(44100, 2);
        const WaveFormat in = WaveFormat::extensibleFloat(96000, 4);
        system->addEndpoint({"desk", "Desk interface", DataFlow::Render, out, out});
        system->addEndpoint({"desk", "Desk interface", DataFlow::Capture, in, in});
        WasapiPlugin plugin(system);
        const audio::DeviceList rows = plugin.devices();
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows.last(), (audio::DeviceInfo{"desk",
                                                 "Desk interface",
                                                 44100,
                                                 "WASAPI",
                                                 {"1", "2", "3", "4"},
                                                 {"1", "2"}}));
        TestDevice source, sink;
        audio::Stream *render = plugin.open("desk", Plugin::Output, {44100, 2}, &source);
        audio::Stream *capture = plugin.open("desk", Plugin::Input, {44100, 4}, &sink);
        QVERIFY(render && capture);
        QCOMPARE(render->format(), (audio::Format{44100, 2}));
        QCOMPARE(capture->format(), (audio::Format{96000, 4}));
        render->close();
        capture->close();
        QCOMPARE(plugin.currentId("desk"), QStringLiteral("desk"));
        QCOMPARE(plugin.currentId("nothing"), QString());
    }

    void streamRunsAtTheMixRateWithTheRequestedChannels_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("render");
        QTest::addColumn<uint>("channels");
        QTest::addColumn<WaveFormat>("expected");
        QTest::newRow("extensible stays extensible")
                << "render-8ch" << true << 2u << extensible(44100, 2, 0x3);
        QTest::newRow("plain becomes plain float")
                << "capture-empty" << false << 3u
                << WaveFormat{WaveFormat::IeeeFloat, 3, 48000, 576000, 12, 32};
        QTest::newRow("wide mask does not overflow")
                << "capture-4ch" << false << 32u << extensible(96000, 32, 0xFFFFFFFF);
    }
    void streamRunsAtTheMixRateWithTheRequestedChannels()
    {
        QFETCH(QString, id);
        QFETCH(bool, render);
        QFETCH(uint, channels);
        QFETCH(WaveFormat, expected);
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice device;
        audio::Stream *stream = plugin.open(id, render ? Plugin::Output : Plugin::Input,
                                            {22050, channels}, &device);
        QVERIFY(stream);
        QCOMPARE(stream->format(), (audio::Format{expected.samplesPerSec, channels}));
        const auto args = system->lastClient()->initializeArgs();
        QVERIFY(args->format == expected);
        QCOMPARE(args->mode, platform::ShareMode::Shared);
        QCOMPARE(args->flags, 0x80040000u);
        QCOMPARE(args->bufferDuration, 10 * FakeAudioClient::defaultPeriod);
        QCOMPARE(args->periodicity, 0);
        QCOMPARE(device.openMode(), render ? QIODevice::ReadOnly : QIODevice::WriteOnly);
        stream->close();
        QVERIFY(!device.isOpen());
    }

    void failedStepsAreLoggedWithTheirLabels_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("rowsLeft");
        const auto step = [](const char *operation, const char *call, int occurrence,
                             const char *label, int rowsLeft = 0) {
            QTest::addRow("%s %s", operation, label)
                    << QString(operation) << QString(call) << occurrence << result::DeviceInUse
                    << line(label, result::DeviceInUse, "Unknown error 0x8889000A",
                            "AUDCLNT_E_DEVICE_IN_USE")
                    << rowsLeft;
        };
        for (const char *operation : {"devices", "default", "render"})
            step(operation, "createDeviceEnumerator", 1, "CoCreateInstance");
        step("devices", "enumAudioEndpoints", 1, "EnumAudioEndpoints 64");
        step("devices", "count", 1, "GetCount 66");
        step("devices", "item", 2, "GetDevice 79", 1);
        step("devices", "id", 2, "GetId 80", 1);
        step("devices", "endpoint", 1, "IMMEndpoint 82");
        step("devices", "dataFlow", 3, "GetDataFlow 83", 2);
        step("devices", "openPropertyStore", 1, "OpenPropertyStore 93");
        step("devices", "value", 3, "PKEY_Device_FriendlyName 101", 1);
        step("devices", "value", 2, "PKEY_AudioEngine_DeviceFormat 104");
        step("default", "defaultAudioEndpoint", 1, "GetDefaultAudioEndpoint 153");
        step("default", "id", 1, "GetId 155");
        for (const char *operation : {"render", "capture"}) {
            step(operation, "device", 1, "GetDevice 202");
            step(operation, "activateAudioClient", 1, "Activate IAudioClient 205");
            step(operation, "mixFormat", 1, "GetMixFormat 209");
            step(operation, "devicePeriod", 1, "GetDevicePeriod 235");
            step(operation, "initialize", 1, "Initialize audio client 241");
            step(operation, "setEventHandle", 1, "SetEventHandle 243");
            step(operation, "bufferSize", 1, "GetBufferSize 245");
        }
        step("render", "renderClient", 1, "GetService IAudioRenderClient 254");
        step("render", "start", 1, "start client 256");
        step("capture", "captureClient", 1, "GetService IAudioCaptureClient 302");
        step("capture", "start", 1, "start client 304");
        QTest::newRow("capture without event") << "capture"
                                               << "createEvent" << 1 << result::Fail
                                               << "can't start stream without event handle" << 0;
        // Codes without a message of their own get the fallback text and, if known, a name.
        const auto text = [](uint code, const char *message, const char *name) {
            QTest::addRow("code %x", code) << "capture"
                                           << "mixFormat" << 1 << code
                                           << line("GetMixFormat 209", code, message, name) << 0;
        };
        text(0x80070057, "Unknown error 0x80070057", "E_INVALIDARG");
        text(0x80040201, "IDispatch error #1", "unknown");
        text(0x8004FFFF, "IDispatch error #65023", "unknown");
        text(0x88890001, "Unknown error 0x88890001", "unknown");
        text(0x88890004, "Unknown error 0x88890004", "AUDCLNT_E_DEVICE_INVALIDATED");
    }
    void failedStepsAreLoggedWithTheirLabels()
    {
        QFETCH(QString, operation);
        QFETCH(QString, call);
        QFETCH(int, occurrence);
        QFETCH(uint, code);
        QFETCH(QString, logged);
        QFETCH(int, rowsLeft);
        auto system = makeSystem();
        system->failCall(call, code, occurrence);
        LogCapture log;
        WasapiPlugin plugin(system);
        TestDevice device;
        if (operation == "devices")
            QCOMPARE(plugin.devices().size(), rowsLeft);
        else if (operation == "default")
            QVERIFY(plugin.defaultDevice(Plugin::Output).isEmpty());
        else if (operation == "render")
            QVERIFY(!plugin.open("render-8ch", Plugin::Output, {48000, 2}, &device));
        else
            QVERIFY(!openCapture(plugin, &device));
        QVERIFY(!device.isOpen());
        QVERIFY2(log.contains(logged), log.text());
    }

    void renderFillsTheFreeBufferAndPadsShortReadsWithSilence()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        constexpr int delivered = 100; // frames the source has
        TestDevice source(delivered * 2 * qint64(sizeof(float)), 0.5f);
        audio::Stream *stream = plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source);
        QVERIFY(stream);
        auto client = system->lastClient();
        const int bufferFrames = 4410; // ten periods of 10 ms at 44.1 kHz
        client->tick();
        QTRY_COMPARE(client->rendered().size(), bufferFrames * 8);
        // A period later, only the consumed part is free again.
        client->consume(441);
        client->tick();
        QTRY_COMPARE(client->rendered().size(), (bufferFrames + 441) * 8);
        const QByteArray bytes = client->rendered();
        const auto *samples = reinterpret_cast<const float *>(bytes.constData());
        for (int i = 0; i < (bufferFrames + 441) * 2; ++i)
            QCOMPARE(samples[i], i < delivered * 2 ? 0.5f : 0.0f);
        // The frames the device took are counted (what its watch sees move).
        QCOMPARE(stream->framesMoved()->load(), uint64_t(bufferFrames + 441));
        stream->close();
        QVERIFY(!source.isOpen());
        QCOMPARE(system->callCount("stop"), 1);
    }

    // Each read says when its first frame leaves: by the device's clock, from the frame the
    // clock last timed, at the stream's rate; and by the read's start with what is queued. The
    // reach is the buffer and the device's latency.
    void renderReadsCarryTheDevicesTime()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice source(1 << 20, 0.5f);
        audio::Stream *stream = plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source);
        QVERIFY(stream);
        auto client = system->lastClient();
        const platform::QpcTime played = 5'000'000'000; // 500 s on the steady clock
        client->setDeviceDelay(300);
        client->setClock(441, played); // frame 441 leaves then
        client->tick();
        QTRY_COMPARE(source.timings().size(), 1);
        client->consume(441);
        client->tick();
        QTRY_COMPARE(source.timings().size(), 2);
        stream->close();
        const QList<audio::StreamTiming> reads = source.timings();
        const auto leaves = [played](double seconds) {
            return platform::timeOfQpc(played)
                   + std::chrono::duration_cast<audio::StreamTiming::Clock::duration>(
                           std::chrono::duration<double>(seconds));
        };
        // Frame 0 leaves 441 frames before frame 441; the second read begins at frame 4410.
        QCOMPARE(reads[0].deviceAt, std::optional(leaves(-0.01)));
        QCOMPARE(reads[1].deviceAt, std::optional(leaves(0.09)));
        QCOMPARE(reads[0].latencyFrames, 300);
        QCOMPARE(reads[1].latencyFrames, 4410 - 441 + 300);
        QCOMPARE(reads[1].reachFrames, 4410 + 300);
        QVERIFY(reads[0].at <= reads[1].at);
    }

    // Each packet's write says when the device captured its first frame, where the device
    // tells it; without, it says when it was handed on.
    void captureWritesCarryTheDevicesTime()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice sink;
        audio::Stream *stream = openCapture(plugin, &sink);
        QVERIFY(stream);
        auto client = system->lastClient();
        const platform::QpcTime captured = 7'000'000'000;
        client->setDeviceDelay(96);
        client->pushPacket(floats({1, 2}), 1, 0, captured);
        client->pushPacket(floats({3, 4}), 1, 0);
        const auto before = audio::StreamTiming::Clock::now();
        client->tick();
        QTRY_COMPARE(sink.timings().size(), 2);
        stream->close();
        const QList<audio::StreamTiming> writes = sink.timings();
        QCOMPARE(writes[0].deviceAt, std::optional(platform::timeOfQpc(captured)));
        QCOMPARE(writes[1].deviceAt, std::nullopt);
        for (const audio::StreamTiming &write : writes) {
            QVERIFY(write.at >= before);
            QCOMPARE(write.latencyFrames, 0);
            QCOMPARE(write.reachFrames, 9600 + 96); // 100 ms at 96 kHz and the device's
        }
    }

    void captureWritesSilentPacketsAsZerosAndDrainsTheBacklog()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice sink;
        audio::Stream *stream = openCapture(plugin, &sink);
        QVERIFY(stream);
        auto client = system->lastClient();
        // Three packets arrive before the thread wakes: a hiccup. The middle one is silent; its
        // memory holds garbage that must not reach the sink.
        client->pushPacket(floats({1, 2, 3, 4}), 2, 0);
        client->pushPacket(floats({9, 9, 9, 9, 9, 9}), 3, platform::bufferflags::Silent);
        client->pushPacket(floats({5, 6}), 1, platform::bufferflags::DataDiscontinuity);
        client->tick();
        const QList<float> expected{1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 5, 6};
        QTRY_COMPARE(sink.samples(), expected);
        QTRY_COMPARE(stream->framesMoved()->load(), uint64_t(6));
        stream->close();
        QVERIFY(!sink.isOpen());
    }

    // Every gap in the device positions reaches the stream before the packet after it: with
    // the frames lost, or -1 when the position cannot tell; a flag alone is a gap of none.
    void captureGapsAreReportedBeforeThePacketAfterThem_data()
    {
        QTest::addColumn<uint32_t>("firstFlags");
        QTest::addColumn<uint32_t>("lost");
        QTest::addColumn<uint32_t>("secondFlags");
        QTest::addColumn<QList<qint64>>("reported");
        using namespace platform::bufferflags;
        QTest::newRow("nothing lost") << 0u << 0u << 0u << QList<qint64>{};
        QTest::newRow("frames lost") << 0u << 5u << 0u << QList<qint64>{5};
        QTest::newRow("length unknown")
                << 0u << 7u << (DataDiscontinuity | TimestampError) << QList<qint64>{-1};
        QTest::newRow("flag alone") << 0u << 0u << DataDiscontinuity << QList<qint64>{0};
        QTest::newRow("first packet flagged") << DataDiscontinuity << 0u << 0u << QList<qint64>{};
    }

    void captureGapsAreReportedBeforeThePacketAfterThem()
    {
        QFETCH(uint32_t, firstFlags);
        QFETCH(uint32_t, lost);
        QFETCH(uint32_t, secondFlags);
        QFETCH(QList<qint64>, reported);
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice sink;
        audio::Stream *stream = openCapture(plugin, &sink);
        QVERIFY(stream);
        QList<qint64> gaps;
        QList<qsizetype> writtenBefore;
        connect(
                stream, &audio::Stream::discontinuity, this,
                [&](qint64 frames) {
                    gaps << frames;
                    writtenBefore << sink.samples().size();
                },
                Qt::DirectConnection);
        auto client = system->lastClient();
        client->pushPacket(floats({1, 2}), 1, firstFlags);
        if (lost)
            client->loseFrames(lost);
        client->pushPacket(floats({3, 4}), 1, secondFlags);
        client->tick();
        QTRY_COMPARE(sink.samples().size(), 4);
        stream->close();
        QCOMPARE(gaps, reported);
        QCOMPARE(writtenBefore, QList<qsizetype>(reported.size(), 2));
    }

    // The capture thread runs no events: a call posted to an object living there (one made by
    // a handler while the stream wrote) never runs inside the thread's real-time section, where
    // running it would allocate and free.
    void captureThreadRunsNoEvents()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice sink;
        audio::Stream *stream = openCapture(plugin, &sink);
        QVERIFY(stream);
        std::unique_ptr<QObject> onCaptureThread;
        connect(
                stream, &audio::Stream::discontinuity, this,
                [&](qint64) { onCaptureThread = std::make_unique<QObject>(); },
                Qt::DirectConnection);
        auto client = system->lastClient();
        client->pushPacket(floats({1, 2}), 1, 0);
        client->loseFrames(1);
        client->pushPacket(floats({3, 4}), 1, 0);
        client->tick();
        QTRY_COMPARE(sink.samples().size(), 4);
        QVERIFY(onCaptureThread);
        std::atomic<bool> ran{false};
        QMetaObject::invokeMethod(
                onCaptureThread.get(), [&ran] { ran.store(true); }, Qt::QueuedConnection);
        client->pushPacket(floats({5, 6}), 1, 0);
        client->tick();
        QTRY_COMPARE(sink.samples().size(), 6);
        stream->close();
        QVERIFY(!ran.load());
    }

    void streamThreadFailuresEndTheLoopWithTheirLabel_data()
    {
        QTest::addColumn<bool>("render");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("label");
        QTest::newRow("padding") << true << "currentPadding"
                                 << "GetCurrentPadding";
        QTest::newRow("render buffer") << true << "buffer"
                                       << "GetBuffer";
        QTest::newRow("render release") << true << "releaseBuffer"
                                        << "ReleaseBuffer";
        QTest::newRow("render latency") << true << "deviceDelay"
                                        << "GetDeviceDelay";
        QTest::newRow("render clock") << true << "clock"
                                      << "GetPosition";
        QTest::newRow("capture latency") << false << "deviceDelay"
                                         << "GetDeviceDelay";
        QTest::newRow("packet size") << false << "nextPacketSize"
                                     << "GetNextPacketSize";
        QTest::newRow("capture buffer") << false << "buffer"
                                        << "GetBuffer";
        QTest::newRow("capture release") << false << "releaseBuffer"
                                         << "ReleaseBuffer";
        QTest::newRow("render stop") << true << "stop"
                                     << "stop client";
    }
    void streamThreadFailuresEndTheLoopWithTheirLabel()
    {
        QFETCH(bool, render);
        QFETCH(QString, call);
        QFETCH(QString, label);
        auto system = makeSystem();
        system->failCall(call, result::DeviceInvalidated);
        WasapiPlugin plugin(system);
        LogCapture log;
        TestDevice source(1 << 20, 0.25f);
        audio::Stream *stream
                = render ? plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source)
                         : openCapture(plugin, &source);
        QVERIFY(stream);
        auto client = system->lastClient();
        client->pushPacket(floats({1, 2}), 1, 0);
        client->tick();
        if (call == "stop") {
            QTRY_VERIFY(!client->rendered().isEmpty());
            stream->close(); // the thread stops the client as it leaves
        }
        QTRY_VERIFY2(log.contains(line(label, 0x88890004, "Unknown error 0x88890004",
                                       "AUDCLNT_E_DEVICE_INVALIDATED")),
                     log.text());
        // The loop ended by itself and stopped the client; the stream stays until closed.
        QTRY_COMPARE(system->callCount("stop"), 1);
        if (call != "stop") {
            QVERIFY(stream->isRunning());
            stream->close();
        }
        QCOMPARE(system->callCount("stop"), 1);
    }

    void teardownWaitsForTheThreadBeforeClosingTheDevice()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        TestDevice source(1 << 20, 0.25f);
        source.blockFirstRead = true;
        audio::Stream *stream = plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source);
        QVERIFY(stream);
        system->lastClient()->tick();
        QVERIFY(source.entered.tryAcquire(1, 10000)); // the thread is inside read()
        std::thread closer([stream] { stream->close(); });
        // Give a wrong teardown every chance to close the device under the reader.
        QTest::qWait(200);
        QVERIFY(source.isOpen());
        source.release.release();
        closer.join();
        QVERIFY(source.openDuringRead.load());
        QVERIFY(!source.isOpen());
    }

    void streamOutlivesItsThreadUntilClosedOrThePluginGoes()
    {
        auto system = makeSystem();
        TestDevice sink;
        QPointer<audio::Stream> stream;
        {
            WasapiPlugin plugin(system);
            stream = openCapture(plugin, &sink);
            QVERIFY(stream);
            // Without events the thread gives up after a second; the stream stays until closed.
            QTRY_COMPARE_WITH_TIMEOUT(system->callCount("stop"), 1, 10000);
            QVERIFY(stream->isRunning());
            QVERIFY(sink.isOpen());
        }
        // The plugin tears down the streams still open as it goes.
        QVERIFY(!sink.isOpen());
        QCOMPARE(system->callCount("stop"), 1);
        // A late close from the stream's user is harmless.
        stream->close();
        QTRY_VERIFY(stream.isNull()); // deleted later through the event loop
    }
};

SNT_TEST_MAIN(WasapiPluginTest)
#include "WasapiPluginTest.moc"
