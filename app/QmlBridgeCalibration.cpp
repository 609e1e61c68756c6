// The settings screen's calibration files for the selected input device and its measurement
// channel: slot 0 the measurement microphone's file, slot 1 the second file. The choice is kept
// in the device's calibration profile; imported files are copied into the data folder first, so
// the profile does not depend on where the file came from.
#include "app/CalibrationFolder.h"
#include "app/QmlBridge.h"
#include "engine/CalibrationManager.h"
#include "engine/dsp/CalFileParser.h"

#include <QFileInfo>
#include <QUrl>

namespace {

bool isSlot(int slot)
{
    return slot == CalibrationFolder::Microphone || slot == CalibrationFolder::Second;
}

} // namespace

QUrl QmlBridge::calibrationFolder() const
{
    return QUrl::fromLocalFile(CalibrationFolder::path());
}

QVariantMap QmlBridge::calibrationInfo() const
{
    const QString name = selectedAudioDevice();
    const QString id = currentSystemDeviceId(name);
    QVariantMap info{{QStringLiteral("deviceId"), id}, {QStringLiteral("deviceName"), name}};
    if (id.isEmpty())
        return info;
    CalibrationManager *manager = CalibrationManager::instance();
    const CalibrationManager::Profile profile = manager->getProfile(id);
    const int channel = audioDataChannel();
    const QString mic = profile.calFile(channel, CalibrationFolder::Microphone);
    const QString second = profile.calFile(channel, CalibrationFolder::Second);
    info.insert(QVariantMap{{QStringLiteral("micPath"), mic},
                            {QStringLiteral("calPath"), second},
                            {QStringLiteral("micName"), QFileInfo(mic).fileName()},
                            {QStringLiteral("calName"), QFileInfo(second).fileName()},
                            {QStringLiteral("splRef"), manager->splReference(id, channel)}});
    return info;
}

QVariantList QmlBridge::calibrationMicFiles() const
{
    return CalibrationFolder::pickerEntries(
            CalibrationFolder::Microphone,
            calibrationInfo().value(QStringLiteral("micPath")).toString());
}

QVariantList QmlBridge::calibrationCalFiles() const
{
    return CalibrationFolder::pickerEntries(
            CalibrationFolder::Second,
            calibrationInfo().value(QStringLiteral("calPath")).toString());
}

bool QmlBridge::setCalibrationFile(int slot, const QString &path)
{
    if (!isSlot(slot) || path.trimmed().isEmpty())
        return false;
    const QString source = localFilePath(path);
    const QString name = selectedAudioDevice();
    const QString id = currentSystemDeviceId(name);
    if (id.isEmpty()) {
        calibrationError_ = QStringLiteral("没有选中可用的输入声卡");
        emit calibrationChanged();
        return false;
    }
    const CalFileParser::Result parsed = CalFileParser::parse(source);
    if (!parsed.ok) {
        calibrationError_ = parsed.error;
        emit calibrationChanged();
        return false;
    }
    CalibrationManager *manager = CalibrationManager::instance();
    CalibrationManager::Profile profile = manager->getProfile(id);
    profile.deviceId = id;
    if (profile.deviceName.isEmpty())
        profile.deviceName = name;
    profile.setCalFile(audioDataChannel(), slot, importCalibrationFile(slot, source));
    manager->saveProfile(profile);
    calibrationError_.clear();
    emit calibrationChanged();
    return true;
}

void QmlBridge::clearCalibrationFile(int slot)
{
    const QString id = currentSystemDeviceId(selectedAudioDevice());
    if (!isSlot(slot) || id.isEmpty())
        return;
    CalibrationManager *manager = CalibrationManager::instance();
    CalibrationManager::Profile profile = manager->getProfile(id);
    profile.deviceId = id;
    profile.setCalFile(audioDataChannel(), slot, QString());
    manager->saveProfile(profile);
    calibrationError_.clear();
    emit calibrationChanged();
}

// The copy in the calibration folder that the slot of the selected device and channel is to
// name. A copy of the same name but other content is replaced only when no other slot (of any
// device or channel) names it: replacing it would change their calibration without a word.
QString QmlBridge::importCalibrationFile(int slot, const QString &path) const
{
    const QString id = currentSystemDeviceId(selectedAudioDevice());
    const QString replaced
            = CalibrationManager::instance()->getProfile(id).calFile(audioDataChannel(), slot);
    return CalibrationFolder::import(slot, path, [&replaced](const QString &copy) {
        const int ownReference = copy == replaced ? 1 : 0;
        return CalibrationManager::instance()->referenceCount(copy) > ownReference;
    });
}
