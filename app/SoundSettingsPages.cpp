#include "app/SoundSettingsPages.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace syscheck {
namespace {

// A desktop's sound settings program, with the arguments that open it on the microphone's page
// and on the playback devices' page.
struct SettingsProgram
{
    const char *program;
    QStringList microphone;
    QStringList playback;
};

QString openPage(bool microphone)
{
    static const SettingsProgram programs[] = {
            {"pavucontrol", {QStringLiteral("--tab=4")}, {QStringLiteral("--tab=3")}},
            {"gnome-control-center", {QStringLiteral("microphone")}, {QStringLiteral("sound")}},
            {"systemsettings",
             {QStringLiteral("kcm_pulseaudio")},
             {QStringLiteral("kcm_pulseaudio")}},
    };
    for (const SettingsProgram &p : programs) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(p.program));
        if (!path.isEmpty()
            && QProcess::startDetached(path, microphone ? p.microphone : p.playback))
            return QString();
    }
    return QStringLiteral(
            "没有找到声音设置程序（可安装 pavucontrol），请在系统设置的声音里检查麦克风和输出设备");
}

} // namespace

QString openSystemAction(const QString &action)
{
    if (action == QLatin1String("micprivacy"))
        return openPage(true);
    if (action == QLatin1String("soundprops"))
        return openPage(false);
    return QString();
}

QString openMicPrivacySettings()
{
    return openPage(true);
}

} // namespace syscheck
