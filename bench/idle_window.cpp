// The main window left alone: frames rendered per second and the processor time of the whole
// program (all threads, as a share of one core) over ten seconds, on the home screen and on the
// point-source measuring screen after a run was played and stopped. The program's QML on the real
// bridge with the loopback test card as its sound card, or, with SNT_BENCH_SOUND_SERVER=1, with
// the program's own backends on the sound server the environment names (PULSE_SERVER, and the
// ALSA configuration SNT_TEST_ASOUNDRC as scripts/test-services.sh prints them), whose system
// check then reports what a real set-up reports. Run it on an X server (Xvfb) with the software
// renderer, as the program runs on a machine without a graphics driver, with
// QT_QPA_PLATFORM=xcb and QT_QUICK_BACKEND=software in the environment:
//   tests/support/own_x_server.sh build/release/bench/bench_idle_window
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "bench/BenchSupport.h"
#include "tests/support/LoopbackCard.h"
#include "ui/QmlSetup.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSettings>
#include <QTest>

#include <ctime>

namespace {

constexpr int settleMs = 2000;
constexpr int idleMs = 10000;

std::shared_ptr<snt::test::LoopbackCard> card;
QmlBridge *bridge = nullptr;
QQuickWindow *window = nullptr;

double processSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Lets the screen settle, then counts the frames the window renders and the processor time the
// program takes while nobody touches it.
void measureIdle(benchmark::State &state)
{
    QTest::qWait(settleMs);
    int frames = 0;
    const QMetaObject::Connection counting
            = QObject::connect(window, &QQuickWindow::frameSwapped, [&frames] { ++frames; });
    for (auto _ : state) {
        frames = 0;
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processSeconds();
        QTest::qWait(idleMs);
        const double cpu = processSeconds() - cpuStart;
        const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["frames_per_s"] = frames / seconds;
        state.counters["cpu_percent"] = 100.0 * cpu / seconds;
    }
    QObject::disconnect(counting);
}

void homeScreenIdle(benchmark::State &state)
{
    bridge->home();
    measureIdle(state);
}

void measuringScreenAfterStop(benchmark::State &state)
{
    bridge->beginMeasurement();
    bridge->measurePrimaryAction();
    if (!bridge->measuring()) {
        state.SkipWithError("the sound card did not play");
        return;
    }
    QTest::qWait(3000);
    bridge->stopAnyAction();
    measureIdle(state);
}

} // namespace

BENCHMARK(homeScreenIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(measuringScreenAfterStop)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    const OwnHome home;
    const bool soundServer = qEnvironmentVariableIntValue("SNT_BENCH_SOUND_SERVER") == 1;
    if (soundServer) // ALSA reads its configuration from the home folder
        QFile::copy(qEnvironmentVariable("SNT_TEST_ASOUNDRC"), QDir::homePath() + "/.asoundrc");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    QSettings().setValue("measure/signalType", 0);
    if (soundServer) {
        audio::Client::setPluginFactories(audio::backendFactories());
    } else {
        card = std::make_shared<snt::test::LoopbackCard>();
        audio::Client::setPluginFactories({[] {
            return card;
        }});
    }
    int result = 1;
    {
        QmlBridge theBridge;
        QQmlApplicationEngine engine;
        snt::ui::setUpQmlEngine(engine);
        engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &theBridge);
        engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
        bridge = &theBridge;
        window = engine.rootObjects().isEmpty()
                         ? nullptr
                         : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        if (window && QTest::qWaitForWindowExposed(window))
            result = runBenchmarks(argc, argv);
    }
    card.reset();
    return result;
}
