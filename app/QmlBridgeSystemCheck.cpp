#include "app/QmlBridge.h"

#include "app/SoundSettingsPages.h"
#include "app/SystemCheck.h"
#include "app/SystemCheckRunner.h"
#include "audio/Client.h"
#include "platform/SoundSettings.h"

// The system audio check. It asks the sound system through ALSA and the sound server, which can
// take long enough to be felt every 20 s, and a fix may wait for a new format to take: both run
// on the runner's thread, and their results come back here as the list and a toast.

SystemCheckRunner *QmlBridge::makeSystemCheckRunner()
{
    auto *runner = new SystemCheckRunner(
            std::make_shared<syscheck::SystemCheck>(audio::Client::instance(),
                                                    platform::systemSoundSettings()),
            this);
    connect(runner, &SystemCheckRunner::checked, this, &QmlBridge::setSystemChecks);
    connect(runner, &SystemCheckRunner::fixed, this,
            [this](const QString &message, const QVariantList &items) {
                setSystemChecks(items);
                toast(message);
            });
    return runner;
}

// Every run replaces the list and says so, changed or not.
void QmlBridge::setSystemChecks(const QVariantList &items)
{
    systemChecks_ = items;
    emit systemChecksChanged();
}

void QmlBridge::runSystemCheck()
{
    refreshSplCalibration();
    systemCheckRunner_->check(currentSystemDeviceId(selectedAudioDevice()));
}

QString QmlBridge::applySystemFixes()
{
    systemCheckRunner_->fix(currentSystemDeviceId(selectedAudioDevice()));
    return QStringLiteral("正在自动修复…");
}

void QmlBridge::openSystemAction(const QString &action)
{
    const QString advice = syscheck::openSystemAction(action);
    if (!advice.isEmpty())
        toast(advice);
}

void QmlBridge::openMicPrivacySettings()
{
    const QString advice = syscheck::openMicPrivacySettings();
    if (!advice.isEmpty())
        toast(advice);
}
