#pragma once

#include "bench/BenchSupport.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// A venue view as a drag redraws it: the QML `source` (a 535 x 300 window holding the view,
// named "scene") is shown, the view set to `renderScale`, and each timed frame is a new yaw then
// a synchronous grab of the window (the canvas named `canvasName` painted by its script, then the
// frame rendered), with the median and 99th percentile per frame. A canvas paints only on a
// shown window, and every timed frame must be a painted one.
inline void timeVenueFrames(benchmark::State &state, QQmlEngine &engine, const QByteArray &source,
                            const QString &canvasName, double renderScale)
{
    QQmlComponent component(&engine);
    component.setData(source, QUrl(QStringLiteral("qrc:/qml/Bench.qml")));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
    if (!window) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    auto *scene = window->findChild<QQuickItem *>(QStringLiteral("scene"));
    scene->setProperty("renderScale", renderScale);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        state.SkipWithError("the window was never shown");
        return;
    }
    window->grabWindow();
    QSignalSpy painted(window->findChild<QQuickItem *>(canvasName), SIGNAL(painted()));
    int step = 0;
    timeEachIteration(state, [&] {
        scene->setProperty("yaw", 0.01 * (++step % 300) - 1.5);
        benchmark::DoNotOptimize(window->grabWindow());
    });
    if (painted.count() < step)
        state.SkipWithError("a frame was grabbed without the canvas painted again");
}
