// The subwoofer guide's venue as a drag redraws it, for each of its three scenes: a new yaw, then
// a synchronous grab of the window (the canvas painted by its script, then the frame rendered),
// at render scale 1 and 2, with the median and 99th percentile per frame.
#include "bench/VenueFrames.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QQmlContext>

namespace {

QQmlEngine *engine = nullptr;
const char *const scenes[] = {"center", "side", "point"};

void BM_SubSceneFrame(benchmark::State &state)
{
    state.SetLabel(scenes[state.range(0)]);
    timeVenueFrames(state, *engine,
                    QByteArray("import QtQuick\n"
                               "Window { width: 535; height: 300\n"
                               "  SubSceneView { objectName: \"scene\"; anchors.fill: parent;\n"
                               "                 scene: \"")
                            + scenes[state.range(0)] + "\" } }",
                    QStringLiteral("sceneCanvas"), double(state.range(1)));
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
