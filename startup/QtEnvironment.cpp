#include "startup/QtEnvironment.h"

#include "startup/CommandLine.h"

#include <QtGlobal>

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

} // namespace snt::startup
