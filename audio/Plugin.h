#pragma once

#include "audio/DeviceInfo.h"
#include "audio/Format.h"

#include <QObject>

class QIODevice;

namespace audio {

class Stream;

// A sound-card backend. It lists its devices, names its default devices and opens streams that
// move interleaved 32-bit float frames between a device and a QIODevice. The backend opens the
// QIODevice itself (write-only for capture, read-only for render) and owns every stream it
// returns: callers only ever call Stream::close().
class Plugin : public QObject
{
    Q_OBJECT
public:
    enum Direction { Input = 0, Output = 1 };
    Q_ENUM(Direction)

    explicit Plugin(QObject *parent = nullptr);

    virtual QString name() const = 0;
    virtual DeviceList devices() = 0;
    virtual DeviceInfo::Id defaultDevice(const Direction &direction) = 0;

public slots:
    // Re-enumerates the devices; the base only announces that the list may have changed.
    virtual void reloadDeviceList();

public:
    virtual Format preferredFormat(const DeviceInfo::Id &id, const Direction &direction) = 0;
    virtual Stream *open(const QString &id, const Direction &direction, const Format &format,
                         QIODevice *device)
            = 0;
    // The id under which this backend lists, now, the device that a saved choice names by
    // `savedId` (an id it had in an earlier version, or its id now); empty when it lists none.
    // The base knows only the ids it lists.
    virtual DeviceInfo::Id currentId(const DeviceInfo::Id &savedId);

    static bool isValidDirection(const Direction &direction);

signals:
    void deviceListChanged();
};

} // namespace audio
