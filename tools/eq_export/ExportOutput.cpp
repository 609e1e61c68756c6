#include "ExportOutput.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

namespace eqexport {

namespace {

constexpr int toolTimeoutMs = 5000;
constexpr int highestNumber = 999;

} // namespace

bool copyToClipboard(const QByteArray &text, QString &error)
{
    QString program;
    QStringList arguments;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        program = QStringLiteral("wl-copy");
    } else if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        program = QStringLiteral("xclip");
        arguments
                = {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")};
    } else {
        error = QStringLiteral("no display: the clipboard cannot be reached");
        return false;
    }
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(program, arguments);
    if (!tool.waitForStarted(toolTimeoutMs)) {
        error = program + QStringLiteral(" cannot be started: ") + tool.errorString();
        return false;
    }
    tool.write(text);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(toolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished(toolTimeoutMs);
        error = program + QStringLiteral(" did not take the text");
        return false;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        error = program + QStringLiteral(" failed with exit code %1").arg(tool.exitCode());
        return false;
    }
    return true;
}

QString saveNewFile(const QString &folder, const QString &stem, const QString &suffix,
                    const QByteArray &content, QString &error)
{
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        error = QStringLiteral("the folder \"%1\" cannot be created").arg(folder);
        return {};
    }
    QTemporaryFile file(folder + QStringLiteral("/.eq_export_XXXXXX"));
    if (!file.open() || file.write(content) != content.size() || !file.flush()) {
        error = QStringLiteral("cannot write in \"%1\": ").arg(folder) + file.errorString();
        return {};
    }
    file.close();
    for (int n = 1; n <= highestNumber; ++n) {
        const QString path = folder + QLatin1Char('/') + stem
                             + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + suffix;
        // A rename never replaces an existing file, and it is atomic on one file system.
        if (QFile::rename(file.fileName(), path)) {
            file.setAutoRemove(false);
            return path;
        }
        if (!QFileInfo::exists(path)) {
            error = QStringLiteral("cannot name the file \"%1\"").arg(path);
            return {};
        }
    }
    error = QStringLiteral("every name up to %1 is taken").arg(highestNumber);
    return {};
}

} // namespace eqexport
