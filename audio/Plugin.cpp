#include "audio/Plugin.h"

namespace audio {

Plugin::Plugin(QObject *parent)
    : QObject(parent)
{ }

void Plugin::reloadDeviceList()
{
    emit deviceListChanged();
}

bool Plugin::isValidDirection(const Direction &direction)
{
    return direction == Input || direction == Output;
}

} // namespace audio
