// The line-array guide's 3-D venue as a drag redraws it: a new yaw, then a synchronous grab of
// the shown window (the canvas painted by its script, then the frame rendered), at render scale
// 1 and 2, with the median and 99th percentile per frame. Every timed frame must have painted.
#include "bench/BenchSupport.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

QQmlEngine *engine = nullptr;

void BM_GuideSceneFrame(benchmark::State &state)
{
    QQmlComponent component(engine);
    component.setData("import QtQuick\n"
                      "Window { width: 535; height: 300\n"
                      "  MicGuideScene { objectName: \"scene\"; anchors.fill: parent } }",
                      QUrl(QStringLiteral("qrc:/qml/Bench.qml")));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
    if (!window) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    // A canvas paints only on a shown window.
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        state.SkipWithError("the window was never shown");
        return;
    }
    auto *scene = window->findChild<QQuickItem *>(QStringLiteral("scene"));
    scene->setProperty("renderScale", double(state.range(0)));
    window->grabWindow();
    QSignalSpy painted(window->findChild<QObject *>(QStringLiteral("guideCanvas")),
                       SIGNAL(painted()));
    int step = 0;
    timeEachIteration(state, [&] {
        scene->setProperty("yaw", 0.01 * (++step % 300) - 1.5);
        benchmark::DoNotOptimize(window->grabWindow());
    });
    if (painted.count() < step)
        state.SkipWithError("a frame was grabbed without the canvas painted again");
}
BENCHMARK(BM_GuideSceneFrame)
        ->Arg(1)
        ->Arg(2)
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
    engine = &qml;
    return runBenchmarks(argc, argv);
}
