// The line-array guide's 3-D venue as a drag redraws it: a new yaw, then a synchronous grab of
// the shown window (the canvas painted by its script, then the frame rendered), at render scale
// 1 and 2, with the median and 99th percentile per frame. Every timed frame must have painted.
#include "bench/VenueFrames.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>

namespace {

QQmlEngine *engine = nullptr;

void BM_GuideSceneFrame(benchmark::State &state)
{
    timeVenueFrames(state, *engine,
                    "import QtQuick\n"
                    "Window { width: 535; height: 300\n"
                    "  MicGuideScene { objectName: \"scene\"; anchors.fill: parent } }",
                    QStringLiteral("guideCanvas"), double(state.range(0)));
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
