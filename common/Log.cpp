#include "common/Log.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace snt::log {
namespace {

QMutex &fileMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &mirrorPath()
{
    static QString path;
    return path;
}

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QString line = formatLine(type, message);
    {
        QMutexLocker lock(&fileMutex());
        std::fputs(qUtf8Printable(line + QLatin1Char('\n')), stderr);
    }
    if (!mirrorPath().isEmpty())
        appendLine(mirrorPath(), line);
}

} // namespace

QString formatLine(QtMsgType type, const QString &message)
{
    return QStringLiteral("%1 %2 %3")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                 QLatin1String(levelName(type)), message);
}

void install(const QString &mirrorFile)
{
    mirrorPath() = mirrorFile;
    qInstallMessageHandler(handler);
}

bool appendLine(const QString &filePath, const QString &line)
{
    QMutexLocker lock(&fileMutex());
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    return file.write(bytes) == bytes.size();
}

} // namespace snt::log
