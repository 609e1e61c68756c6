#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFile>

namespace snt::test {

TestSandbox::TestSandbox()
    : dir_(QDir::tempPath() + QStringLiteral("/snt-test-XXXXXX"))
{
    const QString home = dir_.path();
    const auto folder = [&home](const char *name) {
        const QString path = home + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(path);
        return path.toLocal8Bit();
    };
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", folder(".config"));
    qputenv("XDG_DATA_HOME", folder(".local/share"));
    qputenv("XDG_CACHE_HOME", folder(".cache"));
    qputenv("XDG_STATE_HOME", folder(".local/state"));
    folder("Documents");
    folder("Desktop");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString asoundrc = qEnvironmentVariable("SNT_TEST_ASOUNDRC");
    if (!asoundrc.isEmpty())
        QFile::copy(asoundrc, home + QStringLiteral("/.asoundrc"));
}

} // namespace snt::test
