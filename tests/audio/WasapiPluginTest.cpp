#include "audio/Stream.h"
#include "audio/WasapiPlugin.h"
#include "platform/Event.h"
#include "tests/audio/LogCapture.h"
#include "tests/platform/FakeAudioSystem.h"
#include "tests/support/TestMain.h"

#include <QIODevice>
#include <QPointer>
#include <QSemaphore>
#include <cstring>
#include <thread>

using audio::Plugin;
using audio::WasapiPlugin;
using platform::DataFlow;
using platform::WaveFormat;
using snt::test::FakeAudioClient;
using snt::test::FakeAudioSystem;

namespace {

// A render source that delivers a fixed number of frames of a constant, then nothing.
class ShortSource : public QIODevice {
public:
    ShortSource(qint64 bytes, float value) : left_(bytes), value_(value) { }
    bool blockFirstRead = false;
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> openDuringRead{true};

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (blockFirstRead && !blocked_) {
            blocked_ = true;
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
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 left_;
    const float value_;
    bool blocked_ = false;
};

// A capture sink that keeps what it is given; written from the stream thread.
class Sink : public QIODevice {
public:
    QList<float> samples() const
    {
        QMutexLocker lock(&mutex_);
        return samples_;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        QMutexLocker lock(&mutex_);
        const auto* f = reinterpret_cast<const float*>(data);
        samples_.append(QList<float>(f, f + size / qint64(sizeof(float))));
        return size;
    }

private:
    mutable QMutex mutex_;
    QList<float> samples_;
};

QByteArray floats(const QList<float>& values)
{
    return QByteArray(reinterpret_cast<const char*>(values.constData()),
                      values.size() * qsizetype(sizeof(float)));
}

WaveFormat plainPcm16(uint32_t rate, uint16_t channels)
{
    WaveFormat f;
    f.formatTag = WaveFormat::Pcm;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    f.blockAlign = uint16_t(channels * 2);
    f.avgBytesPerSec = rate * f.blockAlign;
    f.extraSize = 0;
    return f;
}

std::shared_ptr<FakeAudioSystem> makeSystem()
{
    auto system = std::make_shared<FakeAudioSystem>();
    system->addEndpoint({"render-8ch", "Speakers", DataFlow::Render,
                         WaveFormat::extensibleFloat(44100, 8),
                         WaveFormat::extensibleFloat(44100, 8)});
    system->addEndpoint({"capture-4ch", "Mic array", DataFlow::Capture,
                         WaveFormat::extensibleFloat(96000, 4),
                         WaveFormat::extensibleFloat(96000, 4)});
    system->addEndpoint({"capture-empty", "No format", DataFlow::Capture, std::nullopt,
                         WaveFormat::extensibleFloat(48000, 2)});
    system->addEndpoint({"render-8ch", "Speakers again", DataFlow::Render, std::nullopt,
                         WaveFormat::extensibleFloat(48000, 2)});
    system->addEndpoint(
        {"render-plain", "Line out", DataFlow::Render, plainPcm16(48000, 2), plainPcm16(48000, 2)});
    system->setDefault(DataFlow::Render, "render-plain");
    system->setDefault(DataFlow::Capture, "capture-4ch");
    return system;
}

QString line(const QString& label, uint32_t code, const QString& message, const QString& name)
{
    return QStringLiteral("%1 0x%2 %3 %4")
        .arg(label, QString::number(code, 16).toUpper(), message, name);
}

}  // namespace

class WasapiPluginTest : public QObject {
    Q_OBJECT

private slots:
    void listsEndpointsWithEngineFormats()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        QCOMPARE(plugin.name(), QStringLiteral("WASAPI"));
        const audio::DeviceList rows = plugin.devices();
        QCOMPARE(rows.size(), 4);  // the second row with an id already listed is skipped
        QCOMPARE(rows[0],
                 (audio::DeviceInfo{"render-8ch", "Speakers", 44100, "WASAPI", {}, {"1", "2"}}));
        QCOMPARE(rows[1],
                 (audio::DeviceInfo{"capture-4ch",
                                    "Mic array",
                                    96000,
                                    "WASAPI",
                                    {"1", "2", "3", "4"},
                                    {}}));
        QCOMPARE(rows[2],
                 (audio::DeviceInfo{"capture-empty", "No format", 48000, "WASAPI", {}, {}}));
        QCOMPARE(rows[3].id, QStringLiteral("render-plain"));
    }

    void preferredFormatFollowsTheRow_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("direction");
        QTest::addColumn<uint>("rate");
        QTest::addColumn<uint>("channels");
        QTest::newRow("render capped at two")
            << "render-8ch" << int(Plugin::Output) << 44100u << 2u;
        QTest::newRow("capture") << "capture-4ch" << int(Plugin::Input) << 96000u << 4u;
        QTest::newRow("capture asked for output")
            << "capture-4ch" << int(Plugin::Output) << 96000u << 0u;
        QTest::newRow("no format") << "capture-empty" << int(Plugin::Input) << 48000u << 0u;
        QTest::newRow("unknown id") << "nothing" << int(Plugin::Input) << 48000u << 2u;
    }
    void preferredFormatFollowsTheRow()
    {
        QFETCH(QString, id);
        QFETCH(int, direction);
        QFETCH(uint, rate);
        QFETCH(uint, channels);
        WasapiPlugin plugin(makeSystem());
        QCOMPARE(plugin.preferredFormat(id, Plugin::Direction(direction)),
                 (audio::Format{rate, channels}));
    }

    void namesTheDefaultEndpoints()
    {
        WasapiPlugin plugin(makeSystem());
        QCOMPARE(plugin.defaultDevice(Plugin::Output), QStringLiteral("render-plain"));
        QCOMPARE(plugin.defaultDevice(Plugin::Input), QStringLiteral("capture-4ch"));
    }

    void streamRunsAtTheMixRateWithTheRequestedChannels()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        ShortSource source(0, 0.0f);
        audio::Stream* stream = plugin.open("render-8ch", Plugin::Output, {48000, 2}, &source);
        QVERIFY(stream);
        QCOMPARE(stream->format(), (audio::Format{44100, 2}));
        const auto args = system->lastClient()->initializeArgs();
        QVERIFY(args);
        QCOMPARE(args->mode, platform::ShareMode::Shared);
        QCOMPARE(args->flags, 0x80040000u);
        QCOMPARE(args->bufferDuration, 10 * FakeAudioClient::defaultPeriod);
        QCOMPARE(args->periodicity, 0);
        const WaveFormat& f = args->format;
        QCOMPARE(f.formatTag, uint16_t(WaveFormat::Extensible));
        QCOMPARE(f.samplesPerSec, 44100u);
        QCOMPARE(f.channels, uint16_t(2));
        QCOMPARE(f.bitsPerSample, uint16_t(32));
        QCOMPARE(f.validBitsPerSample, uint16_t(32));
        QCOMPARE(f.blockAlign, uint16_t(8));
        QCOMPARE(f.avgBytesPerSec, 44100u * 8u);
        QCOMPARE(f.channelMask, 0x3u);
        QVERIFY(f.subFormat == WaveFormat::SubFormat::IeeeFloat);
        QVERIFY(source.isOpen());
        QCOMPARE(source.openMode(), QIODevice::ReadOnly);
        stream->close();
        QVERIFY(!source.isOpen());
    }

    void plainMixFormatBecomesPlainFloat()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        Sink sink;
        // Not a capture endpoint, but the backend asks for the capture service and gets it.
        audio::Stream* stream = plugin.open("render-plain", Plugin::Input, {22050, 3}, &sink);
        QVERIFY(stream);
        const WaveFormat f = system->lastClient()->initializeArgs()->format;
        QCOMPARE(f.formatTag, uint16_t(WaveFormat::IeeeFloat));
        QCOMPARE(f.extraSize, uint16_t(0));
        QCOMPARE(f.channels, uint16_t(3));
        QCOMPARE(f.samplesPerSec, 48000u);
        QCOMPARE(f.bitsPerSample, uint16_t(32));
        QCOMPARE(f.blockAlign, uint16_t(12));
        QCOMPARE(f.avgBytesPerSec, 48000u * 12u);
        QCOMPARE(stream->format(), (audio::Format{48000, 3}));
        QCOMPARE(sink.openMode(), QIODevice::WriteOnly);
        stream->close();
    }

    void wideChannelMaskDoesNotOverflow()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        Sink sink;
        audio::Stream* stream = plugin.open("capture-4ch", Plugin::Input, {48000, 32}, &sink);
        QVERIFY(stream);
        QCOMPARE(system->lastClient()->initializeArgs()->format.channelMask, 0xFFFFFFFFu);
        stream->close();
    }

    void failedStepsAreLoggedWithTheirLabels_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("rowsLeft");

        QTest::newRow("enumerate") << "devices"
                                   << "enumAudioEndpoints" << 1 << "EnumAudioEndpoints 64" << 0;
        QTest::newRow("count") << "devices"
                               << "count" << 1 << "GetCount 66" << 0;
        QTest::newRow("item") << "devices"
                              << "item" << 2 << "GetDevice 79" << 1;
        QTest::newRow("id") << "devices"
                            << "id" << 2 << "GetId 80" << 1;
        QTest::newRow("endpoint") << "devices"
                                  << "endpoint" << 1 << "IMMEndpoint 82" << 0;
        QTest::newRow("data flow") << "devices"
                                   << "dataFlow" << 3 << "GetDataFlow 83" << 2;
        QTest::newRow("store") << "devices"
                               << "openPropertyStore" << 1 << "OpenPropertyStore 93" << 0;
        QTest::newRow("name") << "devices"
                              << "value" << 3 << "PKEY_Device_FriendlyName 101" << 1;
        QTest::newRow("format") << "devices"
                                << "value" << 2 << "PKEY_AudioEngine_DeviceFormat 104" << 0;
        QTest::newRow("default") << "default"
                                 << "defaultAudioEndpoint" << 1 << "GetDefaultAudioEndpoint 153"
                                 << 0;
        QTest::newRow("default id") << "default"
                                    << "id" << 1 << "GetId 155" << 0;
        for (const char* op : {"render", "capture"}) {
            const auto row = [op](const char* name) -> QTestData& {
                return QTest::addRow("%s %s", op, name) << QString(op);
            };
            row("device") << "device" << 1 << "GetDevice 202" << 0;
            row("activate") << "activateAudioClient" << 1 << "Activate IAudioClient 205" << 0;
            row("mix format") << "mixFormat" << 1 << "GetMixFormat 209" << 0;
            row("period") << "devicePeriod" << 1 << "GetDevicePeriod 235" << 0;
            row("initialize") << "initialize" << 1 << "Initialize audio client 241" << 0;
            row("event") << "setEventHandle" << 1 << "SetEventHandle 243" << 0;
            row("buffer size") << "bufferSize" << 1 << "GetBufferSize 245" << 0;
        }
        QTest::newRow("render service")
            << "render"
            << "renderClient" << 1 << "GetService IAudioRenderClient 254" << 0;
        QTest::newRow("render start") << "render"
                                      << "start" << 1 << "start client 256" << 0;
        QTest::newRow("capture service")
            << "capture"
            << "captureClient" << 1 << "GetService IAudioCaptureClient 302" << 0;
        QTest::newRow("capture start") << "capture"
                                       << "start" << 1 << "start client 304" << 0;
    }
    void failedStepsAreLoggedWithTheirLabels()
    {
        QFETCH(QString, operation);
        QFETCH(QString, call);
        QFETCH(int, occurrence);
        QFETCH(QString, label);
        QFETCH(int, rowsLeft);
        auto system = makeSystem();
        system->failCall(call, platform::result::DeviceInUse, occurrence);
        WasapiPlugin plugin(system);
        LogCapture log;
        if (operation == "devices") {
            QCOMPARE(plugin.devices().size(), rowsLeft);
        } else if (operation == "default") {
            QVERIFY(plugin.defaultDevice(Plugin::Output).isEmpty());
        } else {
            Sink device;
            const bool render = operation == "render";
            QVERIFY(!plugin.open(render ? "render-8ch" : "capture-4ch",
                                 render ? Plugin::Output : Plugin::Input, {48000, 2}, &device));
            QVERIFY(!device.isOpen());
            QCOMPARE(system->lastClient() ? system->lastClient()->isStarted() : false, false);
        }
        QVERIFY2(log.contains(line(label, 0x8889000A, "Unknown error 0x8889000A",
                                   "AUDCLNT_E_DEVICE_IN_USE")),
                 qPrintable(log.lines().join('\n')));
    }

    void logLineCarriesTheFallbackTextAndName_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("name");
        QTest::newRow("invalid arg") << 0x80070057u << "Unknown error 0x80070057"
                                     << "E_INVALIDARG";
        QTest::newRow("dispatch range") << 0x80040201u << "IDispatch error #1"
                                        << "unknown";
        QTest::newRow("dispatch last") << 0x8004FFFFu << "IDispatch error #65023"
                                       << "unknown";
        QTest::newRow("not initialised") << 0x88890001u << "Unknown error 0x88890001"
                                         << "unknown";
        QTest::newRow("invalidated") << 0x88890004u << "Unknown error 0x88890004"
                                     << "AUDCLNT_E_DEVICE_INVALIDATED";
    }
    void logLineCarriesTheFallbackTextAndName()
    {
        QFETCH(uint, code);
        QFETCH(QString, message);
        QFETCH(QString, name);
        auto system = makeSystem();
        system->failCall("mixFormat", code);
        WasapiPlugin plugin(system);
        LogCapture log;
        Sink sink;
        QVERIFY(!plugin.open("capture-4ch", Plugin::Input, {48000, 2}, &sink));
        QVERIFY2(log.contains(line("GetMixFormat 209", code, message, name)),
                 qPrintable(log.lines().join('\n')));
    }

    void withoutEnumeratorEverythingIsEmpty()
    {
        auto system = makeSystem();
        system->failCall("createDeviceEnumerator", platform::result::Fail);
        LogCapture log;
        WasapiPlugin plugin(system);
        QVERIFY(log.contains(
            line("CoCreateInstance", 0x80004005, "Unknown error 0x80004005", "unknown")));
        QVERIFY(plugin.devices().isEmpty());
        QVERIFY(plugin.defaultDevice(Plugin::Input).isEmpty());
        Sink sink;
        QVERIFY(!plugin.open("capture-4ch", Plugin::Input, {48000, 2}, &sink));
        QCOMPARE(log.lines().count("no enumerator"), 3);
    }

    void withoutEventNoStreamOpens()
    {
        auto system = makeSystem();
        system->setEventCreationFails(true);
        WasapiPlugin plugin(system);
        LogCapture log;
        Sink sink;
        QVERIFY(!plugin.open("capture-4ch", Plugin::Input, {48000, 2}, &sink));
        QVERIFY(log.contains("can't start stream without event handle"));
        QCOMPARE(system->callCount("device"), 0);
    }

    void zeroChannelRequestFailsAtInitialize()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        LogCapture log;
        Sink sink;
        // The preferred format of an endpoint without a known format has no channels.
        const audio::Format none = plugin.preferredFormat("capture-empty", Plugin::Input);
        QVERIFY(!plugin.open("capture-empty", Plugin::Input, none, &sink));
        QVERIFY(log.contains(line("Initialize audio client 241", 0x80070057,
                                  "Unknown error 0x80070057", "E_INVALIDARG")));
    }

    void renderFillsTheFreeBufferAndPadsShortReadsWithSilence()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        constexpr int delivered = 100;  // frames the source has
        ShortSource source(delivered * 2 * qint64(sizeof(float)), 0.5f);
        audio::Stream* stream = plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source);
        QVERIFY(stream);
        auto client = system->lastClient();
        const int bufferFrames = 4410;  // ten periods of 10 ms at 44.1 kHz
        client->tick();
        QTRY_COMPARE(client->rendered().size(), bufferFrames * 8);
        // A period later, only the consumed part is free again.
        client->consume(441);
        client->tick();
        QTRY_COMPARE(client->rendered().size(), (bufferFrames + 441) * 8);
        const QByteArray bytes = client->rendered();
        const auto* samples = reinterpret_cast<const float*>(bytes.constData());
        for (int i = 0; i < (bufferFrames + 441) * 2; ++i)
            QCOMPARE(samples[i], i < delivered * 2 ? 0.5f : 0.0f);
        stream->close();
        QVERIFY(!source.isOpen());
        QCOMPARE(system->callCount("stop"), 1);
    }

    void captureWritesSilentPacketsAsZerosAndDrainsTheBacklog()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        Sink sink;
        audio::Stream* stream = plugin.open("capture-4ch", Plugin::Input, {96000, 2}, &sink);
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
        stream->close();
        QVERIFY(!sink.isOpen());
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
        system->failCall(call, platform::result::DeviceInvalidated);
        WasapiPlugin plugin(system);
        LogCapture log;
        ShortSource source(1 << 20, 0.25f);
        Sink sink;
        audio::Stream* stream = render
            ? plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source)
            : plugin.open("capture-4ch", Plugin::Input, {96000, 2}, &sink);
        QVERIFY(stream);
        auto client = system->lastClient();
        if (!render)
            client->pushPacket(floats({1, 2}), 1, 0);
        if (call == "stop") {
            client->tick();
            QTRY_VERIFY(!client->rendered().isEmpty());
            stream->close();  // the thread stops the client as it leaves
        } else {
            client->tick();
        }
        const QString expected
            = line(label, 0x88890004, "Unknown error 0x88890004", "AUDCLNT_E_DEVICE_INVALIDATED");
        QTRY_VERIFY2(log.contains(expected), qPrintable(log.lines().join('\n')));
        // The loop ended by itself and stopped the client; the stream stays until closed.
        QTRY_COMPARE(system->callCount("stop"), 1);
        if (call != "stop") {
            QVERIFY(stream->isRunning());
            stream->close();
        }
        QCOMPARE(system->callCount("stop"), 1);
    }

    void threadEndsAfterASecondWithoutEventsAndCloseStillWorks()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        Sink sink;
        QPointer<audio::Stream> stream
            = plugin.open("capture-4ch", Plugin::Input, {96000, 2}, &sink);
        QVERIFY(stream);
        QTRY_COMPARE_WITH_TIMEOUT(system->callCount("stop"), 1, 10000);
        QVERIFY(stream->isRunning());
        QVERIFY(sink.isOpen());
        stream->close();
        QVERIFY(!stream->isRunning());
        QVERIFY(!sink.isOpen());
        QTRY_VERIFY(stream.isNull());  // deleted later through the event loop
    }

    void teardownWaitsForTheThreadBeforeClosingTheDevice()
    {
        auto system = makeSystem();
        WasapiPlugin plugin(system);
        ShortSource source(1 << 20, 0.25f);
        source.blockFirstRead = true;
        audio::Stream* stream = plugin.open("render-8ch", Plugin::Output, {44100, 2}, &source);
        QVERIFY(stream);
        system->lastClient()->tick();
        QVERIFY(source.entered.tryAcquire(1, 10000));  // the thread is inside read()
        std::thread closer([stream] { stream->close(); });
        // Give a wrong teardown every chance to close the device under the reader.
        QTest::qWait(200);
        QVERIFY(source.isOpen());
        source.release.release();
        closer.join();
        QVERIFY(source.openDuringRead.load());
        QVERIFY(!source.isOpen());
    }

    void destroyingThePluginTearsDownOpenStreams()
    {
        auto system = makeSystem();
        Sink sink;
        QPointer<audio::Stream> stream;
        {
            WasapiPlugin plugin(system);
            stream = plugin.open("capture-4ch", Plugin::Input, {96000, 2}, &sink);
            QVERIFY(stream);
        }
        QVERIFY(!sink.isOpen());
        QCOMPARE(system->callCount("stop"), 1);
        // A late close from the stream's user is harmless.
        stream->close();
        QTRY_VERIFY(stream.isNull());
    }
};

SNT_TEST_MAIN(WasapiPluginTest)
#include "WasapiPluginTest.moc"
