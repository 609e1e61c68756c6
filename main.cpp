// The program's entry: prepares Qt's environment from the command line, creates the application
// and the bridge, applies the options that set the bridge's state, runs a headless mode (which
// ends the program before any window exists) or loads the user interface, places the main window
// and runs the event loop. Teardown runs in reverse order of creation: engine, bridge,
// application. A logout, a shutdown, a `kill`, Ctrl+C or a closed terminal (SIGTERM, SIGINT,
// SIGHUP) quits the event loop as closing the window does, so the same teardown keeps what a
// close keeps (the window's place, a band edit whose delayed save has not run or is running).
//
// Two steps of the Windows program have no counterpart here: switching off the system's error
// boxes (Linux shows none) and asking the window manager for rounded window corners (the
// decoration is the desktop's choice).
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "common/Log.h"
#include "files/DataFolder.h"
#include "selftest/ScriptedRuns.h"
#include "startup/CommandLine.h"
#include "startup/EqBatch.h"
#include "startup/MainWindowGeometry.h"
#include "startup/PackExportTest.h"
#include "startup/QmlWindowRules.h"
#include "startup/QtEnvironment.h"
#include "startup/StartupOptions.h"
#include "startup/TerminationRequest.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>

using namespace snt::startup;

namespace {

constexpr int autoComputeDelayMs = 500;
const char *const tag = "[Startup]";

QString defaultBatchOutput()
{
    return documentsRoot() + QStringLiteral("/临时/eq-batch-result.json");
}

// "--eq-batch" with an input file, else "--export-test"; -1 when neither runs.
int runHeadlessMode(const CommandLine &options, QmlBridge &bridge)
{
    const QString batch = QStringLiteral("--eq-batch");
    if (const std::optional<QString> input = options.plain(batch)) {
        return EqBatch(&bridge,
                       {*input, options.guarded(batch, 2).value_or(defaultBatchOutput()),
                        CommandLine::integer(options.plain(QStringLiteral("--scheme")), 0)})
                .run();
    }
    if (options.has(QStringLiteral("--export-test")))
        return runPackExportTest(&bridge);
    return -1;
}

// The program from the application's creation to the end of its event loop or headless mode,
// with its teardown; its exit code.
int run(int argc, char *argv[], const TerminationRequest &termination)
{
    QStringList rawArguments;
    for (int i = 1; i < argc; ++i)
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    prepareQtEnvironment(CommandLine(rawArguments));

    const std::unique_ptr<QGuiApplication> app = startGuiApplication(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    snt::log::install();
    audio::Client::setPluginFactories(audio::backendFactories());

    QmlBridge bridge;
    const CommandLine options(QCoreApplication::arguments());
    const QString curveFile = applyBridgeOptions(options, &bridge);
    const bool curveLoaded = !curveFile.isEmpty() && loadCurveFile(&bridge, curveFile);
    if (const int exitCode = runHeadlessMode(options, bridge); exitCode >= 0)
        return exitCode;

    QQmlApplicationEngine engine;
    snt::ui::setUpQmlEngine(engine);
    registerQmlTypes();
    QQuickWindow::setTextRenderType(QQuickWindow::QtTextRendering);
    engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    if (engine.rootObjects().isEmpty()) {
        sntCritical(lcStartup, tag) << "the user interface did not load";
        return 1;
    }

    restoreMainWindowGeometry(engine, options.plain(QStringLiteral("--size")).value_or(QString()));
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, &engine,
                     [&engine] { saveMainWindowGeometryOnQuit(engine); });
    // The scripted runs write into the data root's temporary folder unless given one.
    const QString runsFolder = documentsRoot() + QStringLiteral("/临时");
    snt::selftest::scheduleCurveTest(options, engine, &bridge, curveLoaded, runsFolder);
    if (curveLoaded && !options.has(QStringLiteral("--curve-test"))
        && options.has(QStringLiteral("--curve-file")))
        runAfter(autoComputeDelayMs, &bridge, [&bridge] { bridge.startCompute(); });
    snt::selftest::scheduleScriptedRuns(options, engine, &bridge, runsFolder);
    return termination.runEventLoop();
}

} // namespace

int main(int argc, char *argv[])
{
    const TerminationRequest termination;
    const int exitCode = run(argc, argv, termination);
    // After the teardown the program ends by the signal, as it ended before it caught one, not
    // with a close's 0: a session or service manager, or a shell's `wait`, sees that the signal
    // ended it (a shell stops its script after a SIGINT), and the headless modes end so too.
    if (termination.requested())
        termination.end();
    return exitCode;
}
