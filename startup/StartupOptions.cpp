#include "startup/StartupOptions.h"

#include "common/Log.h"
#include "startup/BridgeCalls.h"
#include "startup/CommandLine.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace snt::startup {

namespace {

constexpr int fillMicDelayMs = 800;
constexpr int processorPanelDelayMs = 900;
constexpr int processorConnectDelayMs = 1200;
constexpr int curvePackDelayMs = 1200;
constexpr int defaultSubDemoStep = 1;
constexpr int defaultFillDemoStep = 2;
constexpr double defaultFillDemoDelayMs = 12.4;

void applyTheme(const CommandLine &options, const BridgeCalls &bridge)
{
    if (options.has(QStringLiteral("--light")))
        bridge.write("darkMode", false);
    else if (options.has(QStringLiteral("--dark")))
        bridge.write("darkMode", true);
}

void applyDemos(const CommandLine &options, const BridgeCalls &bridge)
{
    const QString subDemo = QStringLiteral("--subdemo");
    if (options.has(subDemo)) {
        bridge.call("loadSubXoverDemo",
                    {CommandLine::integer(options.guarded(subDemo), defaultSubDemoStep)});
        if (options.has(QStringLiteral("--subsave")))
            bridge.call("saveSubAlignPack");
    }
    if (options.has(QStringLiteral("--subcalib"))) {
        bridge.call("beginSubXover");
        bridge.call("subGuideDone");
    }
    const QString fillDemo = QStringLiteral("--filldemo");
    if (options.has(fillDemo)) {
        bridge.call("loadFillAlignDemo",
                    {CommandLine::integer(options.guarded(fillDemo, 1), defaultFillDemoStep),
                     CommandLine::number(options.guarded(fillDemo, 2), defaultFillDemoDelayMs)});
    }
}

void applyDialogs(const CommandLine &options, const BridgeCalls &bridge)
{
    QObject *target = bridge.target();
    if (options.has(QStringLiteral("--fillmic"))) {
        runAfter(fillMicDelayMs, target,
                 [target] { BridgeCalls(target).write("fillMicGuideOpen", true); });
    }
    const QString dialog = options.plain(QStringLiteral("--dialog")).value_or(QString());
    if (dialog == QLatin1String("new"))
        bridge.write("newProjectOpen", true);
    else if (dialog == QLatin1String("mic"))
        bridge.write("micGuideOpen", true);
    else if (dialog == QLatin1String("plan"))
        bridge.write("planDetailOpen", true);
    else if (dialog == QLatin1String("processor"))
        runAfter(processorPanelDelayMs, target,
                 [target] { BridgeCalls(target).write("processorPanelOpen", true); });

    if (const std::optional<QString> ip = options.plain(QStringLiteral("--procip"))) {
        runAfter(processorConnectDelayMs, target, [target, address = *ip] {
            const BridgeCalls processor(BridgeCalls(target).read("processor").value<QObject *>());
            if (processor.write("ip", address))
                processor.call("connectToDevice");
        });
    }
}

void applyCurveWindow(const CommandLine &options, const BridgeCalls &bridge)
{
    if (options.has(QStringLiteral("--curve")))
        bridge.call("openCurveWindow");
    if (const std::optional<QString> pack = options.guarded(QStringLiteral("--curve-pack"))) {
        runAfter(curvePackDelayMs, bridge.target(),
                 [name = *pack] { selectPackByNameInManagementWindow(name); });
    }
}

} // namespace

void runAfter(int delayMs, QObject *context, std::function<void()> action)
{
    QTimer::singleShot(std::max(0, delayMs), context, std::move(action));
}

QString applyBridgeOptions(const CommandLine &options, QObject *bridgeObject)
{
    const BridgeCalls bridge(bridgeObject);
    applyTheme(options, bridge);
    if (const std::optional<QString> project = options.plain(QStringLiteral("--project")))
        bridge.write("projectName", *project);
    if (const std::optional<QString> screen = options.plain(QStringLiteral("--screen")))
        bridge.call("go", {*screen});
    applyDemos(options, bridge);
    applyDialogs(options, bridge);
    applyCurveWindow(options, bridge);
    return options.plain(QStringLiteral("--curve-test"))
            .value_or(options.plain(QStringLiteral("--curve-file")).value_or(QString()));
}

bool loadCurveFile(QObject *bridgeObject, const QString &path)
{
    const BridgeCalls bridge(bridgeObject);
    if (!bridge.call("loadCurveFile", {path}).toBool()) {
        qCWarning(lcStartup).noquote() << "CURVE load failed" << path;
        return false;
    }
    qCInfo(lcStartup).noquote() << "CURVE loaded" << path << "points"
                                << bridge.read("measuredCurve").toList().size();
    return true;
}

void selectPackByNameInManagementWindow(const QString &name)
{
    const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
    const auto curveWindow = std::find_if(windows.begin(), windows.end(), [](QWindow *window) {
        return window->title() == QStringLiteral("工程管理");
    });
    if (curveWindow != windows.end())
        BridgeCalls(*curveWindow).call("selectPackByName", {QVariant(name)});
}

} // namespace snt::startup
