// A band point dragged across the processor panel's EQ chart, offscreen: each step is one
// pointer move (the page recomputes the band and repaints its chart) and a synchronous grab of
// the window (the scene rendered), 200 steps to and fro, at panel scale 1 and 1.5. Reports the
// median, 95th and 99th percentile per step.
#include "app/QmlBridge.h"
#include "bench/BenchSupport.h"
#include "processor/ProcessorClient.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <cmath>

namespace {

constexpr int steps = 200;

QQuickItem *findItem(QQuickItem *in, const QString &name)
{
    for (QQuickItem *child : in->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

void dragBand(benchmark::State &state)
{
    const double scale = state.range(0) / 100.0;
    QmlBridge bridge;
    auto *client = qobject_cast<ProcessorClient *>(bridge.processor());
    // Output 1 with three active bands, the first at 1 kHz, and a high-pass at 60 Hz.
    client->mergeParams({{"PEQfreq140", 1000},
                         {"PEQgain140", 6},
                         {"PEQq_value140", 1},
                         {"PEQbps140", 0},
                         {"PEQfreq141", 120},
                         {"PEQgain141", -4},
                         {"PEQq_value141", 2},
                         {"PEQbps141", 0},
                         {"PEQfreq142", 6000},
                         {"PEQgain142", 3},
                         {"PEQq_value142", 0.7},
                         {"PEQbps142", 0},
                         {"HLPFfreq4", 60},
                         {"HLPFtype4", 13},
                         {"HLPFbps4", 0}});
    QQmlEngine engine;
    snt::ui::setUpQmlEngine(engine);
    engine.rootContext()->setContextProperty("bridge", &bridge);
    QQmlComponent component(&engine, QUrl("qrc:/qml/ProcessorPanel.qml"));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
    if (!window) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    window->setWidth(qRound(660 * scale));
    window->setHeight(qRound(516 * scale));
    window->show();
    QQuickItem *chart = nullptr;
    if (QTest::qWaitForWindowExposed(window.get())) {
        QMetaObject::invokeMethod(window.get(), "openEqPage", Q_ARG(QVariant, true),
                                  Q_ARG(QVariant, 0));
        chart = findItem(window->contentItem(), "eqChart");
    }
    if (!chart) {
        state.SkipWithError("the processor panel's EQ chart did not show");
        return;
    }
    window->grabWindow();

    // From the band's point at 1 kHz, +6 dB, along a path over most of the chart and back.
    const auto pointAt = [&](int step) {
        const double phase = std::abs(std::fmod(step / double(steps), 2.0) - 1.0);
        const double x = 60 + (0.15 + 0.7 * phase) * 1080;
        const double y = 10 + (0.5 - 0.35 * std::sin(step * 0.05)) * 308;
        return chart->mapToScene({x, y}).toPoint();
    };
    const QPoint start = chart->mapToScene({60 + std::log(50.0) / std::log(1000.0) * 1080,
                                            10 + (1 - 24.0 / 36) * 308})
                                 .toPoint();
    QTest::mousePress(window.get(), Qt::LeftButton, {}, start);
    int step = 0;
    timeEachIteration(state, [&] {
        QTest::mouseMove(window.get(), pointAt(step++));
        window->grabWindow();
    });
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, pointAt(step));
    state.counters["scale"] = scale;
}

} // namespace

BENCHMARK(dragBand)->Arg(100)->Arg(150)->Iterations(steps)->UseManualTime()->Unit(
        benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/snt-bench-XXXXXX"));
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Halvo");
    QCoreApplication::setApplicationName("测量工作流");
    return runBenchmarks(argc, argv);
}
