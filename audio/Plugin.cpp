#include "audio/Plugin.h"

#include <algorithm>

namespace audio {

Plugin::Plugin(QObject *parent)
    : QObject(parent)
{ }

void Plugin::reloadDeviceList()
{
    emit deviceListChanged();
}

DeviceInfo::Id Plugin::currentId(const DeviceInfo::Id &savedId)
{
    const DeviceList rows = devices();
    const bool listed = std::any_of(rows.cbegin(), rows.cend(),
                                    [&savedId](const DeviceInfo &d) { return d.id == savedId; });
    return listed ? savedId : DeviceInfo::Id();
}

bool Plugin::isValidDirection(const Direction &direction)
{
    return direction == Input || direction == Output;
}

} // namespace audio
