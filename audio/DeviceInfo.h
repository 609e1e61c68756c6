#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace audio {

// One row of a device list. A device is identified by `id` alone; the owning backend's name is
// stored with saved devices and compared by the device matcher and the system check.
struct DeviceInfo
{
    using Id = QString;

    Id id;
    QString name;
    uint32_t sampleRate = 48000;
    QString pluginName;
    QStringList inputChannels;
    QStringList outputChannels;

    friend bool operator==(const DeviceInfo &, const DeviceInfo &) = default;
};

using DeviceList = QList<DeviceInfo>;

} // namespace audio

Q_DECLARE_METATYPE(audio::DeviceInfo)
