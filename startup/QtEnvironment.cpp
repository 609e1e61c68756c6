#include "startup/QtEnvironment.h"

#include "common/Log.h"
#include "startup/CommandLine.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace snt::startup {

namespace {

bool fixesDisplayScale(const CommandLine &options)
{
    for (const char *run :
         {"--shot", "--clicktest", "--measuretest", "--subcalibtest", "--curve-test"}) {
        if (options.has(QLatin1String(run)))
            return true;
    }
    return false;
}

bool runsHeadless(const CommandLine &options)
{
    return options.plain(QStringLiteral("--eq-batch")).has_value()
           || options.has(QStringLiteral("--export-test"));
}

bool displaySet()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QtMessageHandler messagesBeforeTheApplication = nullptr;

QString environmentValue(const char *name)
{
    return QStringLiteral("%1=\"%2\"").arg(QLatin1String(name), qEnvironmentVariable(name));
}

// Qt reports a platform that cannot start as a fatal message from the application object's
// constructor and then aborts. Nothing of the program exists yet at that point, so ending the
// process here instead loses nothing.
void endWithoutDisplay(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        messagesBeforeTheApplication(type, context, message);
        return;
    }
    const QString line
            = QStringLiteral("[Startup] no display could be opened (%1, %2, %3): "
                             "start the program in a desktop session; only --eq-batch "
                             "and --export-test run without one")
                      .arg(environmentValue("DISPLAY"), environmentValue("WAYLAND_DISPLAY"),
                           environmentValue("QT_QPA_PLATFORM"));
    std::fputs(qUtf8Printable(snt::log::formatLine(QtCriticalMsg, line) + QLatin1Char('\n')),
               stderr);
    std::_Exit(2);
}

} // namespace

void prepareQtEnvironment(const CommandLine &options)
{
    if (fixesDisplayScale(options) && !qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        qputenv("QT_SCALE_FACTOR", "1");
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
        qputenv("QT_SCALE_FACTOR_ROUNDING_POLICY", "Floor");
    }
    if (runsHeadless(options) && !displaySet() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::unique_ptr<QGuiApplication> startGuiApplication(int &argc, char **argv)
{
    messagesBeforeTheApplication = qInstallMessageHandler(endWithoutDisplay);
    auto application = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(messagesBeforeTheApplication);
    return application;
}

} // namespace snt::startup
