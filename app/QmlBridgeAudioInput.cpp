// The settings screen's choice of the recording sound card and of its measurement and reference
// channels. The next measurement session reads the same settings; a USB audio codec is the one
// card whose level reads as a calibrated sound level.
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"

#include <QSettings>

#include <algorithm>
#include <optional>

namespace {

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

QStringList QmlBridge::audioInputDevices() const
{
    return MeasureSession::inputDeviceNames();
}

QString QmlBridge::selectedAudioDevice() const
{
    const QString saved = QSettings().value(deviceKey).toString();
    if (!saved.isEmpty())
        return saved;
    const auto device = inputDevice(MeasureSession::preferredInputDevice());
    return device ? device->name : QString();
}

void QmlBridge::setSelectedAudioDevice(const QString &name)
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
QStringList QmlBridge::audioInputChannels() const
{
    const QString device = selectedAudioDevice();
    if (MeasureSession::findDevice(device).isEmpty())
        return {};
    return MeasureSession::inputChannelNames(device);
}

int QmlBridge::audioDataChannel() const
{
    return MeasureSession::usableDataChannel(QSettings().value(dataChannelKey, 0).toInt());
}

void QmlBridge::setAudioDataChannel(int channel)
{
    if (channel == audioDataChannel())
        return;
    QSettings().setValue(dataChannelKey, channel);
    emit audioChannelsChanged();
    emit calibrationChanged();
}

int QmlBridge::audioReferenceChannel() const
{
    return storedReferenceChannel();
}

void QmlBridge::setAudioReferenceChannel(int channel)
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

double QmlBridge::splLevel() const
{
    return splCalibrated_ && uncalibratedSpl_ > silenceDb ? uncalibratedSpl_ + splOffsetDb : -100.0;
}

void QmlBridge::refreshAudioDevices()
{
    emit audioInputDevicesChanged();
    refreshSplCalibration();
}

void QmlBridge::refreshSplCalibration()
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
QString QmlBridge::currentSystemDeviceId(const QString &name) const
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
