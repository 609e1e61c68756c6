#include "common/RealTime.h"
#include "platform/AudioLayer.h"
#include "platform/Event.h"
#include "tests/support/TestMain.h"
#include "tests/support/ThreadPolicies.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

using namespace platform;

namespace {

bool pactl(const QStringList &arguments)
{
    QProcess process;
    process.start("pactl", arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

void declareToAlsa(const QByteArray &declarations)
{
    QFile rc(QDir::homePath() + "/.asoundrc");
    if (rc.open(QIODevice::Append))
        rc.write(declarations);
}

std::shared_ptr<Device> deviceOf(const QString &id, DataFlow flow)
{
    std::shared_ptr<DeviceEnumerator> enumerator;
    std::shared_ptr<Device> device;
    if (!succeeded(systemAudio()->createDeviceEnumerator(&enumerator))
        || !succeeded(enumerator->device(id, flow, &device)))
        return nullptr;
    return device;
}

std::shared_ptr<AudioClient> activate(const QString &id, DataFlow flow)
{
    const std::shared_ptr<Device> device = deviceOf(id, flow);
    std::shared_ptr<AudioClient> client;
    if (!device || !succeeded(device->activateAudioClient(&client)))
        return nullptr;
    return client;
}

// An audio client of `id` set up for shared, event-driven use with a 100 ms buffer; null if a
// step fails.
std::shared_ptr<AudioClient> prepare(const QString &id, DataFlow flow, const WaveFormat &format,
                                     std::shared_ptr<Event> *event)
{
    auto client = activate(id, flow);
    *event = systemAudio()->createEvent();
    if (!client
        || !succeeded(client->initialize(ShareMode::Shared, streamflags::EventCallback, 1'000'000,
                                         0, format))
        || !succeeded(client->setEventHandle(*event)))
        return nullptr;
    return client;
}

// A stereo capture client of the loop's monitor, prepared as above and started, with its
// capture service; null if a step fails.
std::shared_ptr<AudioClient> startCapture(std::shared_ptr<Event> *event,
                                          std::shared_ptr<CaptureClient> *capture)
{
    auto client = prepare("alsa:loop_monitor", DataFlow::Capture,
                          WaveFormat::extensibleFloat(48000, 2), event);
    if (!client || !succeeded(client->captureClient(capture)) || !succeeded(client->start()))
        return nullptr;
    return client;
}

using Side = QPair<QString, DataFlow>;

// Every endpoint's id and data flow, as the enumerator lists them.
QList<Side> listEndpoints()
{
    QList<Side> out;
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
        QString id;
        DataFlow flow = DataFlow::All;
        devices->item(i, &device);
        device->id(&id);
        device->endpoint(&endpoint);
        endpoint->dataFlow(&flow);
        out.append({id, flow});
    }
    return out;
}

QSet<QString> ids(const QList<Side> &sides)
{
    QSet<QString> out;
    for (const Side &side : sides)
        out.insert(side.first);
    return out;
}

// The clicks' stream: a click every half second.
constexpr uint32_t clickRate = 48000, clickEvery = 24000;

// One run of clicks through the loop, half a second apart from its start: how far off each
// click came in from when the render clock said it left (in seconds, for the clicks released
// once the server's times settled), and where the sound moved on its way, said why (empty where
// the clicks came back exactly as far apart as they left).
struct ClickRun
{
    std::vector<double> judged;
    QString moved;
};

// When each click left, by the render clock: each click is timed by the first reading of a
// period at or after its own.
struct ClickLeaves
{
    std::vector<uint64_t> clicks;
    std::vector<double> leaves;
};

double secondsOf(QpcTime qpc)
{
    return double(qpc) / double(refTimePerSecond);
}

// Plays clicks into the loop until `playing` clears, noting when each leaves.
void playClicks(AudioClient *client, RenderClient *render, Event *event,
                const std::atomic<bool> &playing, ClickLeaves *out)
{
    constexpr uint32_t bufferFrames = 4800;
    uint64_t released = 0;
    std::vector<uint64_t> pending;
    while (playing.load()) {
        uint32_t padding = 0;
        uint8_t *data = nullptr;
        if (!event->wait(1000) || !succeeded(client->currentPadding(&padding))
            || !succeeded(render->buffer(bufferFrames - padding, &data)))
            break;
        auto *samples = reinterpret_cast<float *>(data);
        for (uint32_t f = 0; f < bufferFrames - padding; ++f, ++released) {
            const bool click = released % clickEvery == clickEvery / 2;
            samples[2 * f] = samples[2 * f + 1] = click ? 0.9f : 0.0f;
            if (click)
                pending.push_back(released);
        }
        render->releaseBuffer(bufferFrames - padding, 0);
        uint64_t position = 0;
        QpcTime qpc = 0;
        client->clock(&position, &qpc);
        while (qpc != 0 && !pending.empty() && pending.front() < position + 480) {
            out->clicks.push_back(pending.front());
            out->leaves.push_back(secondsOf(qpc)
                                  + (double(pending.front()) - double(position)) / clickRate);
            pending.erase(pending.begin());
        }
    }
}

void playClicksThroughTheLoop(ClickRun *run)
{
    constexpr uint32_t settled = 72000;
    std::shared_ptr<Event> renderEvent, captureEvent;
    std::shared_ptr<CaptureClient> capture;
    auto renderClient = prepare("alsa:loop", DataFlow::Render,
                                WaveFormat::extensibleFloat(clickRate, 2), &renderEvent);
    QVERIFY(renderClient);
    std::shared_ptr<RenderClient> render;
    QCOMPARE(renderClient->renderClient(&render), result::Ok);
    QCOMPARE(renderClient->start(), result::Ok);
    auto captureClient = startCapture(&captureEvent, &capture);
    QVERIFY(captureClient);
    ClickLeaves left;
    std::atomic<bool> playing{true};
    std::thread player(playClicks, renderClient.get(), render.get(), renderEvent.get(),
                       std::cref(playing), &left);
    std::vector<double> captured; // when each click came in, by the capture packets
    std::vector<uint64_t> capturedFrames; // and at which frame of the capture stream
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && captureEvent->wait(1000)) {
        uint32_t size = 0;
        while (succeeded(capture->nextPacketSize(&size)) && size != 0) {
            uint8_t *data = nullptr;
            uint32_t frames = 0, flags = 0;
            uint64_t position = 0;
            QpcTime qpc = 0;
            QCOMPARE(capture->buffer(&data, &frames, &flags, &position, &qpc), result::Ok);
            const auto *in = reinterpret_cast<const float *>(data);
            for (uint32_t f = 0; f < frames; ++f)
                if (in[2 * f] > 0.5f && qpc != 0) {
                    captured.push_back(secondsOf(qpc) + double(f) / clickRate);
                    capturedFrames.push_back(position + f);
                }
            QCOMPARE(capture->releaseBuffer(frames), result::Ok);
        }
    }
    playing.store(false);
    player.join();
    QCOMPARE(renderClient->stop(), result::Ok);
    QCOMPARE(captureClient->stop(), result::Ok);
    for (size_t i = 1; i < capturedFrames.size() && run->moved.isEmpty(); ++i)
        if (const uint64_t apart = capturedFrames[i] - capturedFrames[i - 1]; apart != clickEvery)
            run->moved = QString("clicks came in %1 frames apart").arg(apart);
    for (const double in : captured) {
        const auto nearest = std::min_element(
                left.leaves.begin(), left.leaves.end(),
                [in](double a, double b) { return std::abs(a - in) < std::abs(b - in); });
        QVERIFY(nearest != left.leaves.end());
        if (left.clicks[size_t(nearest - left.leaves.begin())] >= settled)
            run->judged.push_back(in - *nearest);
    }
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            SNT_SKIP("needs the test sound server (scripts/test.sh)");
    }

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

    void bothSidesOfAPcmShareOneIdThatServesAsAGroupName()
    {
        // Declarations without a description or hidden by their hint are not endpoints.
        declareToAlsa("pcm.nohint { type null }\n"
                      "pcm.hidden { type null hint { show off description \"Hidden\" } }\n"
                      "pcm.both { type null hint { description \"Both ways\" } }\n");
        const QList<Side> sides = listEndpoints();
        for (const Side &side : sides)
            QCOMPARE(sides.count(side), 1);
        // Saved devices become settings groups: every id must come back as one.
        const QString ini = QDir::homePath() + "/ids.ini";
        {
            QSettings settings(ini, QSettings::IniFormat);
            for (const QString &id : ids(sides))
                settings.setValue(id + "/seen", true);
        }
        const QStringList groups = QSettings(ini, QSettings::IniFormat).childGroups();
        QCOMPARE(QSet<QString>(groups.cbegin(), groups.cend()), ids(sides));
        // A PCM that plays and records is one device: both its sides have its id.
        for (const Side &side :
             {Side{"alsa:default", DataFlow::Render}, Side{"alsa:default", DataFlow::Capture},
              Side{"alsa:loop", DataFlow::Render}, Side{"alsa:loop_monitor", DataFlow::Capture},
              Side{"alsa:both", DataFlow::Render}, Side{"alsa:both", DataFlow::Capture}})
            QVERIFY2(sides.contains(side), qPrintable(side.first));
        // One-sided declarations list only the side they have.
        for (const Side &side :
             {Side{"alsa:loop", DataFlow::Capture}, Side{"alsa:loop_monitor", DataFlow::Render}})
            QVERIFY2(!sides.contains(side), qPrintable(side.first));
        for (const char *id : {"alsa:nohint", "alsa:hidden"})
            QVERIFY2(!ids(sides).contains(id), id);
        // The ids of earlier versions named the side; a saved one still finds that side, which
        // tells the id it has now.
        for (const auto &[saved, flow] : {std::pair{"alsa:capture:both", DataFlow::Capture},
                                          std::pair{"alsa:render:both", DataFlow::Render}}) {
            const std::shared_ptr<Device> device = deviceOf(saved, DataFlow::All);
            QVERIFY2(device, saved);
            QString id;
            std::shared_ptr<Endpoint> endpoint;
            DataFlow side = DataFlow::All;
            QVERIFY(succeeded(device->id(&id)) && succeeded(device->endpoint(&endpoint))
                    && succeeded(endpoint->dataFlow(&side)));
            QCOMPARE(id, QStringLiteral("alsa:both"));
            QCOMPARE(side, flow);
        }
        QVERIFY(!deviceOf("alsa:capture:loop", DataFlow::All));
        QVERIFY(!deviceOf("alsa:loop", DataFlow::Capture));
        // What is declared once ALSA has read its configuration cannot be opened in this run,
        // so it is not offered.
        declareToAlsa("pcm.late { type null hint { description \"Late\" } }\n");
        QCOMPARE(ids(listEndpoints()), ids(sides));
    }

    void audioClientRefusesWhatTheEngineCannotDo()
    {
        auto client = activate("alsa:loop_monitor", DataFlow::Capture);
        QVERIFY(client);
        WaveFormat mix;
        QCOMPARE(client->mixFormat(&mix), result::Ok);
        QCOMPARE(mix, WaveFormat::extensibleFloat(48000, 2));
        const auto initialize = [&client](ShareMode mode, const WaveFormat &format) {
            const uint32_t flags = streamflags::EventCallback | streamflags::AutoConvertPcm;
            return client->initialize(mode, flags, 1'000'000, 0, format);
        };
        WaveFormat none = mix;
        none.channels = 0;
        none.blockAlign = 0;
        QCOMPARE(initialize(ShareMode::Shared, none), result::InvalidArg);
        QCOMPARE(initialize(ShareMode::Exclusive, mix), result::ExclusiveModeNotAllowed);
        WaveFormat pcm16 = mix;
        pcm16.bitsPerSample = 16;
        pcm16.subFormat = WaveFormat::SubFormat::Pcm;
        QCOMPARE(initialize(ShareMode::Shared, pcm16), result::UnsupportedFormat);
        QCOMPARE(client->start(), result::NotInitialized);
        // Any channel count: the plug layer maps them.
        const WaveFormat five = WaveFormat::extensibleFloat(48000, 5);
        QCOMPARE(initialize(ShareMode::Shared, five), result::Ok);
        QCOMPARE(initialize(ShareMode::Shared, five), result::AlreadyInitialized);
        uint32_t frames = 0;
        QCOMPARE(client->bufferSize(&frames), result::Ok);
        QCOMPARE(frames, 4800u); // 100 ms at 48 kHz
        std::shared_ptr<RenderClient> render;
        QCOMPARE(client->renderClient(&render), result::WrongEndpointType);
        QCOMPARE(client->start(), result::EventHandleNotSet);
    }

    // The engine thread stands in for a system's audio engine: it runs at a real-time priority
    // wherever this process may have one, and runs all the same where it may not. So do the
    // threads the sound server's plugin starts for the PCM, which take the server's timing
    // reports: libpulse's main loop ("threaded-ml").
    void engineRunsAtARealTimePriorityWhereGranted()
    {
        const QList<int> expected{audioThreadPolicy()};
        std::shared_ptr<Event> event;
        std::shared_ptr<CaptureClient> capture;
        auto client = startCapture(&event, &capture);
        QVERIFY(client);
        QVERIFY(event->wait(5000));
        const QList<int> engine = policiesOfThreads("alsa-capture");
        const QList<int> serverClient = policiesOfThreads("threaded-ml");
        QCOMPARE(client->stop(), result::Ok);
        QCOMPARE(engine, expected);
        QCOMPARE(serverClient, expected);
    }

    void capturePacketsArriveOncePerPeriodAndOverflowIsFlagged()
    {
        std::shared_ptr<Event> event;
        std::shared_ptr<CaptureClient> capture;
        auto client = startCapture(&event, &capture);
        QVERIFY(client);
        QCOMPARE(client->start(), result::NotStopped);
        QVERIFY(event->wait(5000));
        uint32_t packet = 0;
        QTRY_VERIFY((capture->nextPacketSize(&packet), packet != 0));
        QCOMPARE(packet, 480u);
        // Nobody takes packets: the queue fills up to one buffer and then keeps the newest,
        // marked as discontinuous, at device positions that count the frames dropped.
        uint32_t padding = 0;
        QTRY_VERIFY_WITH_TIMEOUT((client->currentPadding(&padding), padding == 4800), 10000);
        QTest::qWait(500);
        QCOMPARE(client->currentPadding(&padding), result::Ok);
        QCOMPARE(padding, 4800u);
        bool discontinuity = false;
        uint64_t first = 0, next = 0;
        for (uint32_t taken = 0; taken < padding; taken += packet) {
            uint8_t *data = nullptr;
            uint32_t frames = 0;
            uint32_t flags = 0;
            uint64_t position = 0;
            QpcTime qpc = 0;
            QCOMPARE(capture->buffer(&data, &frames, &flags, &position, &qpc), result::Ok);
            QCOMPARE(frames, 480u);
            if (taken == 0)
                first = position;
            else
                QCOMPARE(position, next); // the queue holds consecutive periods
            next = position + frames;
            discontinuity |= (flags & bufferflags::DataDiscontinuity) != 0;
            QCOMPARE(capture->releaseBuffer(frames), result::Ok);
        }
        QVERIFY(discontinuity);
        // Half a second went by with the queue full: about that much was dropped before it (a
        // loaded machine's sound server may deliver a period or two behind the wall clock).
        QVERIFY2(first >= 24000 - 4 * 480 && first % 480 == 0, qPrintable(QString::number(first)));
        QCOMPARE(client->stop(), result::Ok);
    }

    // The engine and the stream's user meet in the capture ring without a lock. A user that
    // asks for packets without pause, and now and then falls a whole buffer behind (holding a
    // packet, or between two), makes the engine wait for nothing, and what it gets is whole:
    // the packets follow each other, and one that does not says so.
    void captureRingHandsOverWithoutWaiting()
    {
        std::shared_ptr<Event> event;
        std::shared_ptr<CaptureClient> capture;
        auto client = startCapture(&event, &capture);
        QVERIFY(client);
        realtime::resetViolations();
        int packets = 0, gaps = 0;
        std::optional<uint64_t> expected;
        QElapsedTimer clock;
        clock.start();
        while (packets < 120 && clock.elapsed() < 20000) {
            uint32_t size = 0;
            QCOMPARE(capture->nextPacketSize(&size), result::Ok);
            if (size == 0)
                continue;
            uint8_t *data = nullptr;
            uint32_t frames = 0, flags = 0;
            uint64_t position = 0;
            QpcTime qpc = 0;
            QCOMPARE(capture->buffer(&data, &frames, &flags, &position, &qpc), result::Ok);
            QCOMPARE(frames, 480u);
            if (expected && position != *expected) {
                QVERIFY2(flags & bufferflags::DataDiscontinuity,
                         qPrintable(QString("%1 after %2").arg(position).arg(*expected)));
                ++gaps;
            }
            expected = position + frames;
            if (++packets % 40 == 20)
                QThread::msleep(150);
            QCOMPARE(capture->releaseBuffer(frames), result::Ok);
            if (packets % 40 == 0)
                QThread::msleep(150);
        }
        QCOMPARE(client->stop(), result::Ok);
        QVERIFY2(packets == 120 && gaps > 1, qPrintable(QString("%1, %2").arg(packets).arg(gaps)));
        QCOMPARE(realtime::violations().lockWaits, 0u);
    }

    // The clocks the two sides report meet where the loop returns the sound: a click released
    // into the render buffer leaves, by the render clock, when the capture packet that brings it
    // back says it was captured. Through the sound server's loop, once the server has told its
    // first, unsettled times (a second and a half). Only a run whose sound kept its time can
    // tell: where the stream ran dry on its way (an engine held off its processor past its
    // buffer, as a kernel that lets another program's long system call finish first can do for
    // 200 ms on a busy machine), the sound moved after the render clock told when it would
    // leave, and the server's times stay unsettled for seconds after. The clicks show it: they
    // leave exactly half a second apart and come back so only where every frame between them
    // did. Such a run is said so, and another measures, up to three.
    void clocksMeetWhereTheLoopReturns()
    {
        QStringList moved;
        for (int attempt = 0; attempt < 3; ++attempt) {
            ClickRun run;
            playClicksThroughTheLoop(&run);
            if (QTest::currentTestFailed())
                return;
            if (!run.moved.isEmpty()) {
                qInfo().noquote() << "a run whose sound moved on its way:" << run.moved;
                moved.append(run.moved);
                continue;
            }
            QVERIFY2(run.judged.size() >= 3, qPrintable(QString::number(run.judged.size())));
            for (const double error : run.judged)
                QVERIFY2(std::abs(error) < 0.005,
                         qPrintable(QString("came in %1 ms after it left").arg(error * 1e3)));
            return;
        }
        QFAIL(qPrintable("the sound moved on its way in every run:\n" + moved.join('\n')));
    }

    // Last: it runs pactl, and under ThreadSanitizer no thread of this process may start once a
    // child process has been started (it dies saying so).
    void renderDrainsWholePeriodsAndEventsKeepComingWhileTheServerStalls()
    {
        std::shared_ptr<Event> event;
        auto client = prepare("alsa:loop", DataFlow::Render, WaveFormat::extensibleFloat(48000, 1),
                              &event);
        QVERIFY(client);
        std::shared_ptr<RenderClient> render;
        QCOMPARE(client->renderClient(&render), result::Ok);
        uint8_t *data = nullptr;
        QCOMPARE(render->buffer(4801, &data), result::BufferTooLarge);
        QCOMPARE(render->buffer(4800, &data), result::Ok);
        std::fill_n(reinterpret_cast<float *>(data), 4800, 0.0f);
        QCOMPARE(render->releaseBuffer(4800, 0), result::Ok);
        uint32_t padding = 0;
        QCOMPARE(client->currentPadding(&padding), result::Ok);
        QCOMPARE(padding, 4800u);
        QCOMPARE(client->start(), result::Ok);
        QVERIFY(event->wait(5000));
        QTRY_VERIFY((client->currentPadding(&padding), padding <= 4800 - 480));
        QCOMPARE(padding % 480, 0u); // whole periods at a time
        // A suspended sink takes nothing for a while; the user must still hear from the engine
        // well within the second after which it would give the device up.
        QVERIFY(pactl({"suspend-sink", "loop", "1"}));
        const auto resume = qScopeGuard([] { pactl({"suspend-sink", "loop", "0"}); });
        QElapsedTimer stalled;
        stalled.start();
        // Within the second, with room for a loaded machine's scheduling.
        while (stalled.elapsed() < 1500)
            QVERIFY(event->wait(900));
        QCOMPARE(client->stop(), result::Ok);
    }
};

SNT_TEST_MAIN(PlatformTest)
#include "PlatformTest.moc"
