#include "platform/AudioLayer.h"
#include "platform/Event.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <thread>

using namespace platform;

namespace {

bool pactl(const QStringList& arguments)
{
    QProcess process;
    process.start("pactl", arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

bool haveSoundServer()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

std::shared_ptr<AudioClient> activate(const QString& id)
{
    std::shared_ptr<DeviceEnumerator> enumerator;
    std::shared_ptr<Device> device;
    std::shared_ptr<AudioClient> client;
    if (!succeeded(systemAudio()->createDeviceEnumerator(&enumerator))
        || !succeeded(enumerator->device(id, &device))
        || !succeeded(device->activateAudioClient(&client)))
        return nullptr;
    return client;
}

struct Listed {
    QString id;
    DataFlow flow;
};

QList<Listed> listEndpoints()
{
    QList<Listed> out;
    std::shared_ptr<DeviceEnumerator> enumerator;
    std::shared_ptr<DeviceCollection> devices;
    uint32_t count = 0;
    systemAudio()->createDeviceEnumerator(&enumerator);
    if (!succeeded(enumerator->enumAudioEndpoints(DataFlow::All, deviceStateActive, &devices))
        || !succeeded(devices->count(&count)))
        return out;
    for (uint32_t i = 0; i < count; ++i) {
        std::shared_ptr<Device> device;
        std::shared_ptr<Endpoint> endpoint;
        Listed row;
        devices->item(i, &device);
        device->id(&row.id);
        device->endpoint(&endpoint);
        endpoint->dataFlow(&row.flow);
        out.append(row);
    }
    return out;
}

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void eventIsAutoResetAndCoalesces()
    {
        Event event;
        QVERIFY(!event.wait(10));
        event.set();
        event.set();
        QVERIFY(event.wait(0));
        QVERIFY(!event.wait(10));
        std::thread setter([&event] { event.set(); });
        QVERIFY(event.wait(10000));
        setter.join();
    }

    void endpointIdsAreDistinctPerSideAndUsableAsGroupNames()
    {
        if (!haveSoundServer())
            QSKIP("needs the test sound server (scripts/test.sh)");
        // Declarations without a description or hidden by their hint are not endpoints.
        QFile rc(QDir::homePath() + "/.asoundrc");
        QVERIFY(rc.open(QIODevice::Append));
        rc.write("pcm.nohint { type null }\n"
                 "pcm.hidden { type null hint { show off description \"Hidden\" } }\n"
                 "pcm.both { type null hint { description \"Both ways\" } }\n");
        rc.close();
        const QList<Listed> rows = listEndpoints();
        QSet<QString> ids;
        QHash<QString, DataFlow> flows;
        for (const Listed& row : rows) {
            QVERIFY2(!row.id.contains('/'), qPrintable(row.id));
            ids.insert(row.id);
            flows.insert(row.id, row.flow);
        }
        QCOMPARE(ids.size(), rows.size());
        // Saved devices become settings groups: every id must come back as one.
        QSettings settings(QDir::homePath() + "/ids.ini", QSettings::IniFormat);
        for (const QString& id : ids) {
            settings.beginGroup(id);
            settings.setValue("seen", true);
            settings.endGroup();
        }
        settings.sync();
        QCOMPARE(QSettings(settings.fileName(), QSettings::IniFormat).childGroups().size(),
                 ids.size());
        for (const QString& id : ids)
            QVERIFY2(
                QSettings(settings.fileName(), QSettings::IniFormat).childGroups().contains(id),
                qPrintable(id));
        QCOMPARE(flows.value("alsa:render:default"), DataFlow::Render);
        QCOMPARE(flows.value("alsa:capture:default"), DataFlow::Capture);
        QCOMPARE(flows.value("alsa:render:loop"), DataFlow::Render);
        QCOMPARE(flows.value("alsa:capture:loop_monitor"), DataFlow::Capture);
        QCOMPARE(flows.value("alsa:render:both"), DataFlow::Render);
        QCOMPARE(flows.value("alsa:capture:both"), DataFlow::Capture);
        // One-sided declarations list only the side they have.
        QVERIFY(!ids.contains("alsa:capture:loop"));
        QVERIFY(!ids.contains("alsa:render:loop_monitor"));
        QVERIFY(!ids.contains("alsa:render:nohint"));
        QVERIFY(!ids.contains("alsa:render:hidden"));
        // What is declared once ALSA has read its configuration cannot be opened in this run,
        // so it is not offered.
        QVERIFY(rc.open(QIODevice::Append));
        rc.write("pcm.late { type null hint { description \"Late\" } }\n");
        rc.close();
        const QList<Listed> again = listEndpoints();
        QVERIFY(std::none_of(again.cbegin(), again.cend(),
                             [](const Listed& r) { return r.id.endsWith(":late"); }));
        QCOMPARE(again.size(), rows.size());
    }

    void audioClientRefusesWhatTheEngineCannotDo()
    {
        if (!haveSoundServer())
            QSKIP("needs the test sound server (scripts/test.sh)");
        auto client = activate("alsa:capture:loop_monitor");
        QVERIFY(client);
        WaveFormat mix;
        QCOMPARE(client->mixFormat(&mix), result::Ok);
        QCOMPARE(mix, WaveFormat::extensibleFloat(48000, 2));
        const uint32_t flags = streamflags::EventCallback | streamflags::AutoConvertPcm;
        WaveFormat none = mix;
        none.channels = 0;
        none.blockAlign = 0;
        QCOMPARE(client->initialize(ShareMode::Shared, flags, 1'000'000, 0, none),
                 result::InvalidArg);
        QCOMPARE(client->initialize(ShareMode::Exclusive, flags, 1'000'000, 0, mix),
                 result::ExclusiveModeNotAllowed);
        WaveFormat pcm16 = mix;
        pcm16.bitsPerSample = 16;
        pcm16.subFormat = WaveFormat::SubFormat::Pcm;
        QCOMPARE(client->initialize(ShareMode::Shared, flags, 1'000'000, 0, pcm16),
                 result::UnsupportedFormat);
        QCOMPARE(client->start(), result::NotInitialized);
        // Any channel count: the plug layer maps them.
        const WaveFormat five = WaveFormat::extensibleFloat(48000, 5);
        QCOMPARE(client->initialize(ShareMode::Shared, flags, 1'000'000, 0, five), result::Ok);
        QCOMPARE(client->initialize(ShareMode::Shared, flags, 1'000'000, 0, five),
                 result::AlreadyInitialized);
        uint32_t frames = 0;
        QCOMPARE(client->bufferSize(&frames), result::Ok);
        QCOMPARE(frames, 4800u);  // 100 ms at 48 kHz
        std::shared_ptr<RenderClient> render;
        QCOMPARE(client->renderClient(&render), result::WrongEndpointType);
        QCOMPARE(client->start(), result::EventHandleNotSet);
    }

    void capturePacketsArriveOncePerPeriodAndOverflowIsFlagged()
    {
        if (!haveSoundServer())
            QSKIP("needs the test sound server (scripts/test.sh)");
        auto client = activate("alsa:capture:loop_monitor");
        QVERIFY(client);
        const WaveFormat stereo = WaveFormat::extensibleFloat(48000, 2);
        auto event = systemAudio()->createEvent();
        std::shared_ptr<CaptureClient> capture;
        QCOMPARE(
            client->initialize(ShareMode::Shared, streamflags::EventCallback, 1'000'000, 0, stereo),
            result::Ok);
        QCOMPARE(client->setEventHandle(event), result::Ok);
        QCOMPARE(client->captureClient(&capture), result::Ok);
        QCOMPARE(client->start(), result::Ok);
        QCOMPARE(client->start(), result::NotStopped);
        QVERIFY(event->wait(2000));
        uint32_t packet = 0;
        QTRY_VERIFY((capture->nextPacketSize(&packet), packet != 0));
        QCOMPARE(packet, 480u);
        // Nobody takes packets: the queue fills up to one buffer and then keeps the newest,
        // marked as discontinuous.
        uint32_t padding = 0;
        QTRY_VERIFY_WITH_TIMEOUT((client->currentPadding(&padding), padding == 4800), 10000);
        QTest::qWait(500);
        QCOMPARE(client->currentPadding(&padding), result::Ok);
        QCOMPARE(padding, 4800u);
        bool discontinuity = false;
        for (uint32_t taken = 0; taken < padding; taken += packet) {
            uint8_t* data = nullptr;
            uint32_t frames = 0;
            uint32_t flags = 0;
            QCOMPARE(capture->buffer(&data, &frames, &flags), result::Ok);
            QCOMPARE(frames, 480u);
            discontinuity |= (flags & bufferflags::DataDiscontinuity) != 0;
            QCOMPARE(capture->releaseBuffer(frames), result::Ok);
        }
        QVERIFY(discontinuity);
        QCOMPARE(client->stop(), result::Ok);
    }

    void eventsKeepComingWhileTheServerStalls()
    {
        if (!haveSoundServer())
            QSKIP("needs the test sound server (scripts/test.sh)");
        auto client = activate("alsa:render:loop");
        QVERIFY(client);
        auto event = systemAudio()->createEvent();
        QCOMPARE(client->initialize(ShareMode::Shared, streamflags::EventCallback, 1'000'000, 0,
                                    WaveFormat::extensibleFloat(48000, 2)),
                 result::Ok);
        QCOMPARE(client->setEventHandle(event), result::Ok);
        QCOMPARE(client->start(), result::Ok);
        QVERIFY(event->wait(2000));
        // A suspended sink takes nothing for a while; the user must still hear from the engine
        // well within the second after which it would give the device up.
        QVERIFY(pactl({"suspend-sink", "loop", "1"}));
        const auto resume = qScopeGuard([] { pactl({"suspend-sink", "loop", "0"}); });
        QElapsedTimer stalled;
        stalled.start();
        while (stalled.elapsed() < 1500)
            QVERIFY(event->wait(500));
        QCOMPARE(client->stop(), result::Ok);
    }

    void renderPaddingDrainsAtTheEngineRate()
    {
        if (!haveSoundServer())
            QSKIP("needs the test sound server (scripts/test.sh)");
        auto client = activate("alsa:render:loop");
        QVERIFY(client);
        auto event = systemAudio()->createEvent();
        std::shared_ptr<RenderClient> render;
        QCOMPARE(client->initialize(ShareMode::Shared, streamflags::EventCallback, 1'000'000, 0,
                                    WaveFormat::extensibleFloat(48000, 1)),
                 result::Ok);
        QCOMPARE(client->setEventHandle(event), result::Ok);
        QCOMPARE(client->renderClient(&render), result::Ok);
        uint8_t* data = nullptr;
        QCOMPARE(render->buffer(4801, &data), result::BufferTooLarge);
        QCOMPARE(render->buffer(4800, &data), result::Ok);
        std::fill_n(reinterpret_cast<float*>(data), 4800, 0.0f);
        QCOMPARE(render->releaseBuffer(4800, 0), result::Ok);
        uint32_t padding = 0;
        QCOMPARE(client->currentPadding(&padding), result::Ok);
        QCOMPARE(padding, 4800u);
        QCOMPARE(client->start(), result::Ok);
        QVERIFY(event->wait(2000));
        QTRY_VERIFY((client->currentPadding(&padding), padding <= 4800 - 480));
        QCOMPARE(padding % 480, 0u);  // whole periods at a time
        QCOMPARE(client->stop(), result::Ok);
    }
};

SNT_TEST_MAIN(PlatformTest)
#include "PlatformTest.moc"
