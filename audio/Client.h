#pragma once

#include "audio/DeviceInfo.h"
#include "audio/Format.h"
#include "audio/Plugin.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <functional>
#include <memory>

class QIODevice;

namespace audio {

class Stream;

// The one process-wide registry of sound-card backends. It keeps the merged device list of all
// backends (first row wins for a duplicated id) and routes every device question and every
// open to the backend that owns the id. Safe to query from any thread.
class Client : public QObject
{
    Q_OBJECT
public:
    using PluginFactory = std::function<std::shared_ptr<Plugin>()>;

    // The client lives until the process ends; its backends are shut down when the application
    // object goes away. It always lives in the application's main thread, whichever thread
    // first asks for it.
    static std::shared_ptr<Client> instance();

    // The backends the client will create, in order. Only effective before the first
    // instance(): the program gives the backends it is built with (audio::backendFactories())
    // at its start, a test a card of its own. Without it the client has no backend.
    static bool setPluginFactories(const QList<PluginFactory> &factories);

    // A registry of its own over the given backends, for a caller that passes it to what it
    // builds instead of the process-wide one (as tests do).
    explicit Client(const QList<PluginFactory> &factories);
    ~Client() override;

    void refreshAll();
    DeviceList devices() const;
    bool hasDevice(const QString &id) const;
    QString deviceName(const QString &id) const;
    DeviceInfo::Id defaultDevice(const Plugin::Direction &direction) const;
    std::shared_ptr<Plugin> pluginForDevice(const QString &id) const;
    // The id a device saved as `savedId` (in a setting, a calibration profile) is listed under
    // now, asking the backends about ids of earlier versions; empty when no backend lists it.
    DeviceInfo::Id currentDeviceId(const QString &savedId) const;
    Format preferredInputFormat(const QString &id) const;
    Format preferredOutputFormat(const QString &id) const;
    Stream *openInput(const QString &id, QIODevice *sink, const Format &format);
    Stream *openOutput(const QString &id, QIODevice *source, const Format &format);

public slots:
    void reloadDevices();

signals:
    void deviceListChanged();

private:
    void initPlugins(const QList<PluginFactory> &factories);
    void shutdown();
    static void shutdownAll();
    Format preferredFormat(const QString &id, const Plugin::Direction &direction) const;
    Stream *open(const QString &id, const Plugin::Direction &direction, const Format &format,
                 QIODevice *device);

    QList<std::shared_ptr<Plugin>> plugins_;
    DeviceList devices_;
    mutable QMutex mutex_;
};

} // namespace audio
