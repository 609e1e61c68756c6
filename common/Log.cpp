#include "common/Log.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

Q_LOGGING_CATEGORY(lcAlsa, "snt.alsa", QtInfoMsg)
Q_LOGGING_CATEGORY(lcJack, "snt.jack", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWasapi, "snt.wasapi", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAsio, "snt.asio", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAudio, "snt.audio")
Q_LOGGING_CATEGORY(lcPhone, "snt.phone")
Q_LOGGING_CATEGORY(lcAes67, "snt.aes67")
Q_LOGGING_CATEGORY(lcGenerator, "snt.generator")
Q_LOGGING_CATEGORY(lcMeasurement, "snt.measurement")
Q_LOGGING_CATEGORY(lcCalibration, "snt.calibration")
Q_LOGGING_CATEGORY(lcStore, "snt.store")
Q_LOGGING_CATEGORY(lcApp, "snt.app")
Q_LOGGING_CATEGORY(lcSystemCheck, "snt.systemcheck")
Q_LOGGING_CATEGORY(lcUpdate, "snt.update")
Q_LOGGING_CATEGORY(lcExport, "snt.export")
Q_LOGGING_CATEGORY(lcProcessor, "snt.processor")
Q_LOGGING_CATEGORY(lcStartup, "snt.startup")
Q_LOGGING_CATEGORY(lcSelfTest, "snt.selftest")

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

// The category stays out of the line: the tag at the start of every message names the component.
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
