// The subwoofer guide's venue as a drag redraws it, for each of its three scenes: a new yaw, then
// a synchronous grab of the window (the canvas painted by its script, then the frame rendered),
// at render scale 1 and 2, with the median and 99th percentile per frame.
#include "bench/BenchSupport.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

QQmlEngine *engine = nullptr;
const char *const scenes[] = {"center", "side", "point"};

void BM_SubSceneFrame(benchmark::State &state)
{
    QQmlComponent component(engine);
    component.setData(QByteArray("import QtQuick\n"
                                 "Window { width: 535; height: 300\n"
                                 "  SubSceneView { objectName: \"scene\"; anchors.fill: parent;\n"
                                 "                 scene: \"")
                              + scenes[state.range(0)] + "\" } }",
                      QUrl(QStringLiteral("qrc:/qml/Bench.qml")));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
    if (!window) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    state.SetLabel(scenes[state.range(0)]);
    auto *scene = window->findChild<QQuickItem *>(QStringLiteral("scene"));
    scene->setProperty("renderScale", double(state.range(1)));
    // A canvas paints only on a shown window; each frame must be a painted one.
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        state.SkipWithError("the window was never shown");
        return;
    }
    window->grabWindow();
    QSignalSpy paints(window->findChild<QQuickItem *>(QStringLiteral("sceneCanvas")),
                      SIGNAL(painted()));
    int step = 0;
    timeEachIteration(state, [&] {
        scene->setProperty("yaw", 0.01 * (++step % 300) - 1.5);
        benchmark::DoNotOptimize(window->grabWindow());
    });
    if (paints.count() < step)
        state.SkipWithError("a frame was grabbed without the canvas painted again");
}
BENCHMARK(BM_SubSceneFrame)
        ->ArgsProduct({{0, 1, 2}, {1, 2}})
        ->UseManualTime()
        ->Iterations(300)
        ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQmlEngine qml;
    snt::ui::setUpQmlEngine(qml);
    // The view listens to the bridge only for the palette's change signal.
    QObject bridge;
    qml.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
    engine = &qml;
    return runBenchmarks(argc, argv);
}
