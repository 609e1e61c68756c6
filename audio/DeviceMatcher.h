#pragma once

#include <QObject>
#include <QString>

// Finds a saved input device again in the current device list, by id and backend name, and
// falls back to the system's default input device when the saved one is gone.
class DeviceMatcher : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit DeviceMatcher(QObject *parent = nullptr);

public slots:
    void tryMatch(QString savedDeviceId, QString savedPluginName);

signals:
    void deviceMatched(QString savedDeviceId, QString savedPluginName, QString actualDeviceId,
                       bool isDefault);
};

Q_DECLARE_METATYPE(DeviceMatcher *)
