// Start-up to the first rendered frame of the home screen, as the program starts: the bridge
// (with the application core and the processor client), the QML engine set up and loaded, the
// window placed, until the window has shown its first frame. The first start of the process
// (nothing cached yet) is printed before the timed runs, which measure the later ones. Needs a
// display (xvfb-run -a bench/bench_startup).
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "bench/BenchSupport.h"
#include "startup/MainWindowGeometry.h"
#include "ui/QmlSetup.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

// Milliseconds from the bridge's creation to the main window's first frame; -1 when none came
// within 30 s.
double startToFirstFrame()
{
    QElapsedTimer clock;
    clock.start();
    QmlBridge bridge;
    QQmlApplicationEngine engine;
    snt::ui::setUpQmlEngine(engine);
    engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return -1.0;
    snt::startup::restoreMainWindowGeometry(engine, QString());
    QEventLoop loop;
    QObject::connect(window, &QQuickWindow::frameSwapped, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return clock.nsecsElapsed() / 1e6;
}

void startUpToFirstFrame(benchmark::State &state)
{
    timeEachIteration(state, [] { benchmark::DoNotOptimize(startToFirstFrame()); });
}

} // namespace

BENCHMARK(startUpToFirstFrame)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/snt-bench-XXXXXX"));
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    audio::Client::setPluginFactories(audio::backendFactories());
    // The QML warnings of members other workflows add later are not figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::printf("first start in this process: %.1f ms\n", startToFirstFrame());
    return runBenchmarks(argc, argv);
}
