#include "app/AudioSetup.h"

#include "app/CalibrationFolder.h"
#include "app/MeasureSession.h"
#include "app/SoundSettingsPages.h"
#include "app/SystemCheck.h"
#include "app/SystemCheckRunner.h"
#include "app/UiState.h"
#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "engine/CalibrationManager.h"
#include "engine/dsp/CalFileParser.h"
#include "files/StoreFile.h"
#include "platform/SoundSettings.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <optional>

namespace {

bool isSlot(int slot)
{
    return slot == CalibrationFolder::Microphone || slot == CalibrationFolder::Second;
}

const QString deviceKey = QStringLiteral("audio/inputDevice");
const QString dataChannelKey = QStringLiteral("audio/dataChannel");
const QString referenceChannelKey = QStringLiteral("audio/referenceChannel");

constexpr int defaultReferenceChannel = 1;
constexpr double silenceDb = -90.0;
// What a USB audio codec's uncalibrated level reads below the sound pressure level in dB.
constexpr double splOffsetDb = 113.0;

// The stored reference channel; a negative one reads as the default.
int storedReferenceChannel()
{
    const int channel = QSettings().value(referenceChannelKey, defaultReferenceChannel).toInt();
    return channel < 0 ? defaultReferenceChannel : channel;
}

// The first device with this id that records, if any.
std::optional<audio::DeviceInfo> inputDevice(const QString &id)
{
    const auto client = audio::Client::instance();
    if (!client || id.isEmpty())
        return std::nullopt;
    for (const audio::DeviceInfo &device : client->devices()) {
        if (device.id == id)
            return device.inputChannels.isEmpty() ? std::nullopt
                                                  : std::optional<audio::DeviceInfo>(device);
    }
    return std::nullopt;
}

} // namespace

AudioSetup::AudioSetup(UiState &ui, QObject *parent)
    : QObject(parent)
    , ui_(ui)
    , systemCheckRunner_(new SystemCheckRunner(
              std::make_shared<syscheck::SystemCheck>(audio::Client::instance(),
                                                      platform::systemSoundSettings()),
              this))
{
    connect(systemCheckRunner_, &SystemCheckRunner::checked, this, &AudioSetup::setSystemChecks);
    connect(systemCheckRunner_, &SystemCheckRunner::fixed, this,
            [this](const QString &message, const QVariantList &items) {
                setSystemChecks(items);
                ui_.toast(message);
            });
    if (const auto client = audio::Client::instance())
        connect(client.get(), &audio::Client::deviceListChanged, this,
                &AudioSetup::refreshSplCalibration);
    refreshSplCalibration();
}

QStringList AudioSetup::audioInputDevices() const
{
    return MeasureSession::inputDeviceNames();
}

QString AudioSetup::selectedAudioDevice() const
{
    const QString saved = QSettings().value(deviceKey).toString();
    if (!saved.isEmpty())
        return saved;
    const auto device = inputDevice(MeasureSession::preferredInputDevice());
    return device ? device->name : QString();
}

void AudioSetup::setSelectedAudioDevice(const QString &name)
{
    if (name == selectedAudioDevice())
        return;
    QSettings().setValue(deviceKey, name);
    emit selectedAudioDeviceChanged();
    emit audioChannelsChanged();
    emit calibrationChanged();
    refreshSplCalibration();
}

// A saved card that is gone has no channels to offer (the session falls back to another card).
QStringList AudioSetup::audioInputChannels() const
{
    const QString device = selectedAudioDevice();
    if (MeasureSession::findDevice(device).isEmpty())
        return {};
    return MeasureSession::inputChannelNames(device);
}

// As with the reference below: the stored index stays as it was chosen, and shown is what a run
// on the selected device reads, so the screen never names a channel that its menu does not offer.
int AudioSetup::audioDataChannel() const
{
    return AudioInput::measurementChannelRead(chosenDataChannel(),
                                              int(audioInputChannels().size()));
}

// The microphone channel a run is given: the stored one, kept to those the settings can choose.
int AudioSetup::chosenDataChannel() const
{
    return MeasureSession::usableDataChannel(QSettings().value(dataChannelKey, 0).toInt());
}

void AudioSetup::setAudioDataChannel(int channel)
{
    if (channel == chosenDataChannel())
        return;
    QSettings().setValue(dataChannelKey, channel);
    emit audioChannelsChanged();
    emit calibrationChanged();
}

// The stored index stays as it was chosen (a device that has it may be chosen again); shown is
// what a run on the selected device reads, so the screen never names a channel that its menu
// does not offer.
int AudioSetup::audioReferenceChannel() const
{
    return AudioInput::referenceChannelRead(storedReferenceChannel(), chosenDataChannel(),
                                            int(audioInputChannels().size()));
}

void AudioSetup::setAudioReferenceChannel(int channel)
{
    const int channels = int(audioInputChannels().size());
    if (channels >= 1)
        channel = std::clamp(channel, 0, channels - 1);
    else if (channel < 0)
        channel = defaultReferenceChannel;
    if (channel == storedReferenceChannel())
        return;
    QSettings().setValue(referenceChannelKey, channel);
    emit audioChannelsChanged();
}

double AudioSetup::splLevel(double uncalibratedDb) const
{
    return splCalibrated_ && uncalibratedDb > silenceDb ? uncalibratedDb + splOffsetDb : -100.0;
}

void AudioSetup::refreshAudioDevices()
{
    emit audioInputDevicesChanged();
    refreshSplCalibration();
}

void AudioSetup::refreshSplCalibration()
{
    QString name;
    bool calibrated = false;
    if (const auto client = audio::Client::instance()) {
        const QString id = currentSystemDeviceId(selectedAudioDevice());
        for (const audio::DeviceInfo &device : client->devices()) {
            if (device.id != id)
                continue;
            name = device.name;
            const QString lower = name.toLower();
            calibrated = lower.contains(QLatin1String("usb"))
                         && lower.contains(QLatin1String("codec"));
            break;
        }
    }
    if (calibrated == splCalibrated_ && name == splDeviceName_)
        return;
    splCalibrated_ = calibrated;
    splDeviceName_ = name;
    emit splCalibrationChanged();
}

// The device a name stands for: the recording device of that name or id, else the preferred
// input device, else the system's default input.
QString AudioSetup::currentSystemDeviceId(const QString &name) const
{
    QString id = MeasureSession::findDevice(name);
    if (id.isEmpty())
        id = MeasureSession::preferredInputDevice();
    if (id.isEmpty()) {
        if (const auto client = audio::Client::instance())
            id = client->defaultDevice(audio::Plugin::Input);
    }
    return id;
}

// ---- calibration files ----------------------------------------------------------------------

QUrl AudioSetup::calibrationFolder() const
{
    return QUrl::fromLocalFile(CalibrationFolder::path());
}

QVariantMap AudioSetup::calibrationInfo() const
{
    const QString name = selectedAudioDevice();
    const QString id = currentSystemDeviceId(name);
    QVariantMap info{{QStringLiteral("deviceId"), id}, {QStringLiteral("deviceName"), name}};
    if (id.isEmpty())
        return info;
    CalibrationManager *manager = CalibrationManager::instance();
    const CalibrationManager::Profile profile = manager->getProfile(id);
    const int channel = chosenDataChannel();
    const QString mic = profile.calFile(channel, CalibrationFolder::Microphone);
    const QString second = profile.calFile(channel, CalibrationFolder::Second);
    info.insert(QVariantMap{{QStringLiteral("micPath"), mic},
                            {QStringLiteral("calPath"), second},
                            {QStringLiteral("micName"), QFileInfo(mic).fileName()},
                            {QStringLiteral("calName"), QFileInfo(second).fileName()},
                            {QStringLiteral("splRef"), manager->splReference(id, channel)}});
    return info;
}

QVariantList AudioSetup::calibrationMicFiles() const
{
    return CalibrationFolder::pickerEntries(
            CalibrationFolder::Microphone,
            calibrationInfo().value(QStringLiteral("micPath")).toString());
}

QVariantList AudioSetup::calibrationCalFiles() const
{
    return CalibrationFolder::pickerEntries(
            CalibrationFolder::Second,
            calibrationInfo().value(QStringLiteral("calPath")).toString());
}

bool AudioSetup::setCalibrationFile(int slot, const QString &path)
{
    if (!isSlot(slot) || path.trimmed().isEmpty())
        return false;
    const QString source = store::localFilePath(path);
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
    profile.setCalFile(chosenDataChannel(), slot, importCalibrationFile(slot, source));
    manager->saveProfile(profile);
    calibrationError_.clear();
    emit calibrationChanged();
    return true;
}

void AudioSetup::clearCalibrationFile(int slot)
{
    const QString id = currentSystemDeviceId(selectedAudioDevice());
    if (!isSlot(slot) || id.isEmpty())
        return;
    CalibrationManager *manager = CalibrationManager::instance();
    CalibrationManager::Profile profile = manager->getProfile(id);
    profile.deviceId = id;
    profile.setCalFile(chosenDataChannel(), slot, QString());
    manager->saveProfile(profile);
    calibrationError_.clear();
    emit calibrationChanged();
}

// The copy in the calibration folder that the slot of the selected device and channel is to
// name. A copy of the same name but other content is replaced only when no other slot (of any
// device or channel) names it: replacing it would change their calibration without a word.
QString AudioSetup::importCalibrationFile(int slot, const QString &path) const
{
    const QString id = currentSystemDeviceId(selectedAudioDevice());
    const QString replaced
            = CalibrationManager::instance()->getProfile(id).calFile(chosenDataChannel(), slot);
    return CalibrationFolder::import(slot, path, [&replaced](const QString &copy) {
        const int ownReference = copy == replaced ? 1 : 0;
        return CalibrationManager::instance()->referenceCount(copy) > ownReference;
    });
}

// ---- the system audio check -----------------------------------------------------------------
// It asks the sound system through ALSA and the sound server, which can take long enough to be
// felt every 20 s, and a fix may wait for a new format to take: both run on the runner's thread,
// and their results come back here as the list and a toast.

// Every run replaces the list and says so, changed or not.
void AudioSetup::setSystemChecks(const QVariantList &items)
{
    systemChecks_ = items;
    emit systemChecksChanged();
}

void AudioSetup::runSystemCheck()
{
    refreshSplCalibration();
    systemCheckRunner_->check(currentSystemDeviceId(selectedAudioDevice()));
}

QString AudioSetup::applySystemFixes()
{
    systemCheckRunner_->fix(currentSystemDeviceId(selectedAudioDevice()));
    return QStringLiteral("正在自动修复…");
}

void AudioSetup::openSystemAction(const QString &action)
{
    const QString advice = syscheck::openSystemAction(action);
    if (!advice.isEmpty())
        ui_.toast(advice);
}

void AudioSetup::openMicPrivacySettings()
{
    const QString advice = syscheck::openMicPrivacySettings();
    if (!advice.isEmpty())
        ui_.toast(advice);
}
