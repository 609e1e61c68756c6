#include "selftest/ScriptedRuns.h"

#include "selftest/BlockedDemo.h"
#include "selftest/ClickTest.h"
#include "selftest/CurveTest.h"
#include "selftest/MeasureTests.h"
#include "selftest/WindowShot.h"
#include "startup/CommandLine.h"
#include "startup/StartupOptions.h"

#include <QDir>
#include <QQmlApplicationEngine>

namespace snt::selftest {

namespace {

using startup::CommandLine;
using startup::runAfter;

constexpr int curveTestDelayMs = 900;
constexpr int runDelayMs = 700;
constexpr int defaultShotWaitMs = 1200;

using WalkRun = void (*)(const QQmlApplicationEngine &, QObject *, const QString &);

// A walk with its output folder: the one given after the option, else `outputRoot`/`name`.
void scheduleWalk(const CommandLine &options, const char *option, const char *name, WalkRun run,
                  QQmlApplicationEngine &engine, QObject *bridge, const QString &outputRoot)
{
    const QString flag = QLatin1String(option);
    if (!options.has(flag))
        return;
    const QString folder
            = options.guarded(flag).value_or(outputRoot + QLatin1Char('/') + QLatin1String(name));
    QDir().mkpath(folder);
    runAfter(runDelayMs, &engine, [&engine, bridge, folder, run] { run(engine, bridge, folder); });
}

void scheduleShot(const CommandLine &options, QQmlApplicationEngine &engine)
{
    const std::optional<QString> path = options.plain(QStringLiteral("--shot"));
    if (!path)
        return;
    const bool curveWindow = options.has(QStringLiteral("--curve"));
    const bool processorPanel
            = options.has(QStringLiteral("--dialog")) && options.has(QStringLiteral("processor"));
    runAfter(CommandLine::integer(options.plain(QStringLiteral("--wait")), defaultShotWaitMs),
             &engine, [&engine, path = *path, curveWindow, processorPanel] {
                 runShot(engine, path, curveWindow, processorPanel);
             });
}

} // namespace

void scheduleCurveTest(const CommandLine &options, QQmlApplicationEngine &engine, QObject *bridge,
                       bool curveLoaded, const QString &outputRoot)
{
    const QString flag = QStringLiteral("--curve-test");
    if (!options.has(flag))
        return;
    CurveTestOptions test;
    if (options.plain(flag)) {
        test.outputFolder
                = options.guarded(flag, 2).value_or(outputRoot + QStringLiteral("/curvetest"));
        QDir().mkpath(test.outputFolder);
    }
    test.curveLoaded = curveLoaded;
    test.createProject = options.has(QStringLiteral("--management-project"));
    test.managementShots = options.has(QStringLiteral("--management-ui-shots"));
    test.selectLastPack = options.has(QStringLiteral("--management-last"));
    test.resultEditCheck = options.has(QStringLiteral("--result-edit-check"));
    runAfter(curveTestDelayMs, &engine,
             [&engine, bridge, test] { runCurveTest(engine, bridge, test); });
}

void scheduleScriptedRuns(const CommandLine &options, QQmlApplicationEngine &engine,
                          QObject *bridge, const QString &outputRoot)
{
    if (const std::optional<QString> curve = options.plain(QStringLiteral("--blocked-demo"))) {
        runAfter(runDelayMs, &engine, [bridge, path = *curve] { runBlockedDemo(bridge, path); });
    }
    scheduleWalk(options, "--clicktest", "clicktest", runClickTest, engine, bridge, outputRoot);
    scheduleWalk(options, "--measuretest", "measuretest", runMeasureTest, engine, bridge,
                 outputRoot);
    scheduleWalk(options, "--arraytest", "arraytest", runArrayTest, engine, bridge, outputRoot);
    scheduleWalk(options, "--subcalibtest", "subcalibtest", runSubcalibTest, engine, bridge,
                 outputRoot);
    scheduleShot(options, engine);
}

} // namespace snt::selftest
