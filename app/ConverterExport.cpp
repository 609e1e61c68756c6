#include "app/ConverterExport.h"

#include "common/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int reapTimeoutMs = 1000;
constexpr int xtaSections = 9;

const QString okKey = QStringLiteral("ok");
const QString messageKey = QStringLiteral("message");
const QString quietKey = QStringLiteral("quiet");

struct TargetTexts
{
    QString busy;
    QString verb;
    QString success;
};

TargetTexts textsFor(bool xta)
{
    if (xta)
        return {QStringLiteral("正在复制… 请稍后"), QStringLiteral("导出"),
                QStringLiteral("EQ 已复制。去 XTA 右键，选 Paste Output Channel Filters。")};
    return {QStringLiteral("正在生成… 请稍后"), QStringLiteral("生成"),
            QStringLiteral("预设已生成到桌面。去 NST 右键，选 Load Output Channel Settings。")};
}

QVariantMap refusal(const QString &message)
{
    return {{okKey, false}, {messageKey, message}};
}

// A failure after the converter was started: the panel shows it as a note, not as an error, but
// the text says that the export failed.
QVariantMap quietFailure(const QString &message)
{
    return {{okKey, false}, {quietKey, true}, {messageKey, message}};
}

QString warningText(bool xta, int supported, int removed)
{
    if (removed < 1)
        return {};
    if (xta)
        return QStringLiteral("XTA 只有 9 段。当前分频占用 %1 段，只写进 %2 段，%3 段被裁掉。")
                .arg(std::max(xtaSections - supported, 0))
                .arg(supported)
                .arg(removed);
    return QStringLiteral("NST 只有 16 段，只写进 %1 段，%2 段被裁掉。")
            .arg(supported)
            .arg(removed);
}

QByteArray requestJson(const QString &target, const QString &desktop, const ProcessorEqList &list)
{
    QJsonObject request{{QStringLiteral("desktop"), desktop},
                        {QStringLiteral("filters"), list.filtersJson()},
                        {QStringLiteral("target"), target}};
    if (const QJsonObject hpf = ProcessorEqList::cornerJson(list.highPass); !hpf.isEmpty())
        request.insert(QStringLiteral("hpf"), hpf);
    if (const QJsonObject lpf = ProcessorEqList::cornerJson(list.lowPass); !lpf.isEmpty())
        request.insert(QStringLiteral("lpf"), lpf);
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

// Waits for the converter without blocking timers, sockets or painting; false on time-out.
bool waitForConverter(QProcess &converter)
{
    if (converter.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&converter, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ConverterExport::answerTimeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return converter.state() == QProcess::NotRunning;
}

// Kills the converter's process group (the converter and whatever it started) and reaps it.
void killGroup(QProcess &converter)
{
    const qint64 pid = converter.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    converter.kill();
    converter.waitForFinished(reapTimeoutMs);
}

void logFailure(const char *what, const QProcess &converter, const QByteArray &errorOutput)
{
    sntWarning(lcExport, "[EqExport]")
            << what << "exit status" << int(converter.exitStatus()) << "exit code"
            << converter.exitCode() << "stderr:" << QString::fromUtf8(errorOutput).trimmed();
}

} // namespace

QString ConverterExport::converterPath() const
{
    const QString folder = folder_.isEmpty() ? QCoreApplication::applicationDirPath() : folder_;
    return folder + QStringLiteral("/eq_export.exe");
}

QVariantMap ConverterExport::exportEq(const QString &target, const QString &desktop,
                                      const Collect &collect)
{
    const QString name = target.trimmed().toLower();
    if (name != QLatin1String("xta") && name != QLatin1String("nst"))
        return refusal(QStringLiteral("未知的处理器类型"));
    const bool xta = name == QLatin1String("xta");
    const TargetTexts texts = textsFor(xta);
    if (busy_)
        return quietFailure(texts.busy);

    ProcessorEqList list;
    QString error;
    if (!collect(texts.verb, list, error))
        return refusal(error);

    // Removed when this function returns, on every path: the converter has read it by then.
    QTemporaryFile request(QDir::tempPath() + QStringLiteral("/tovan_eq_export_XXXXXX.json"));
    const QByteArray content = requestJson(name, desktop, list);
    if (!request.open() || request.write(content) != content.size() || !request.flush())
        return refusal(QStringLiteral("导出失败：临时文件建不了"));
    request.close();

    const QString program = converterPath();
    if (!QFileInfo::exists(program))
        return refusal(QStringLiteral("导出组件缺失（eq_export.exe）"));

    busy_ = true;
    const auto idle = qScopeGuard([this] { busy_ = false; });
    QProcess converter;
    converter.setChildProcessModifier([] { ::setpgid(0, 0); });
    converter.start(program, {request.fileName()});
    if (!converter.waitForStarted(startTimeoutMs)) {
        sntWarning(lcExport, "[EqExport] cannot start") << program << converter.errorString();
        killGroup(converter);
        return quietFailure(QStringLiteral("导出没成功：转换程序启动不了"));
    }
    if (!waitForConverter(converter)) {
        killGroup(converter);
        logFailure("no answer in time;", converter, converter.readAllStandardError());
        return quietFailure(QStringLiteral("导出没成功：转换程序没有回应"));
    }
    const QByteArray output = converter.readAllStandardOutput().trimmed();
    const QByteArray errorOutput = converter.readAllStandardError();
    const QJsonObject answer = QJsonDocument::fromJson(output).object();
    if (converter.exitStatus() != QProcess::NormalExit || answer.value(okKey) != QJsonValue(true)) {
        logFailure("failed;", converter, errorOutput);
        return quietFailure(QStringLiteral("导出没成功：转换程序出错"));
    }
    const int supported = answer.value(QStringLiteral("supported")).toInt(0);
    const int removed = answer.value(QStringLiteral("removed")).toInt(0);
    return {{okKey, true},
            {messageKey, texts.success},
            {QStringLiteral("warning"), warningText(xta, supported, removed)},
            {QStringLiteral("supported"), supported},
            {QStringLiteral("removed"), removed},
            {QStringLiteral("total"), answer.value(QStringLiteral("total")).toInt(0)},
            {QStringLiteral("path"), answer.value(QStringLiteral("path")).toString()}};
}
