#include "audio/DeviceMatcher.h"

#include "audio/Client.h"

namespace {
// Registered by type, so it can be created through the meta-object system by name.
[[maybe_unused]] const int kRegistered = qRegisterMetaType<DeviceMatcher *>();
} // namespace

DeviceMatcher::DeviceMatcher(QObject *parent)
    : QObject(parent)
{ }

void DeviceMatcher::tryMatch(QString savedDeviceId, QString savedPluginName)
{
    const auto client = audio::Client::instance();
    if (!savedDeviceId.isEmpty() && !savedPluginName.isEmpty()) {
        for (const audio::DeviceInfo &device : client->devices()) {
            if (device.id == savedDeviceId && device.pluginName == savedPluginName) {
                emit deviceMatched(savedDeviceId, savedPluginName, device.id, false);
                return;
            }
        }
    }
    emit deviceMatched(savedDeviceId, savedPluginName, client->defaultDevice(audio::Plugin::Input),
                       true);
}
