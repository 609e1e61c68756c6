#include "audio/Client.h"

#include "audio/Stream.h"
#include "common/Log.h"
#include "common/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <mutex>

namespace audio {
namespace {

struct Registry
{
    std::once_flag once;
    std::shared_ptr<Client> client;
    QList<Client::PluginFactory> factories;
    bool created = false;
    QMutex mutex;
};

Registry &registry()
{
    static Registry r;
    return r;
}

void registerIdAlias()
{
    const QByteArray alias("audio::DeviceInfo::Id");
    if (!QMetaType::fromName(alias).isValid())
        QMetaType::registerNormalizedTypedef(alias, QMetaType::fromType<QString>());
    qRegisterMetaType<audio::Format>();
    qRegisterMetaType<audio::DeviceInfo>();
}

} // namespace

bool Client::setPluginFactories(const QList<PluginFactory> &factories)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    if (r.created)
        return false;
    r.factories = factories;
    return true;
}

std::shared_ptr<Client> Client::instance()
{
    Registry &r = registry();
    std::call_once(r.once, [&r] {
        QList<PluginFactory> factories;
        {
            QMutexLocker lock(&r.mutex);
            r.created = true;
            factories = r.factories;
        }
        r.client.reset(new Client(factories));
        // Queued reloads and signals must run in a thread that lives as long as the program,
        // not in whichever worker happened to ask first.
        snt::moveToMainThread(r.client.get());
        if (QCoreApplication::instance())
            qAddPostRoutine(&Client::shutdownAll);
    });
    return r.client;
}

void Client::shutdownAll()
{
    if (auto client = registry().client)
        client->shutdown();
}

Client::Client(const QList<PluginFactory> &factories)
{
    registerIdAlias();
    initPlugins(factories);
}

Client::~Client()
{
    shutdown();
}

void Client::initPlugins(const QList<PluginFactory> &factories)
{
    for (const PluginFactory &make : factories) {
        std::shared_ptr<Plugin> plugin = make();
        if (!plugin)
            continue;
        // A backend without a thread of its own follows the client into the main thread.
        if (plugin->thread() == thread())
            snt::moveToMainThread(plugin.get());
        plugins_.append(plugin);
        connect(plugin.get(), &Plugin::deviceListChanged, this, &Client::reloadDevices);
    }
    reloadDevices();
}

void Client::shutdown()
{
    QList<std::shared_ptr<Plugin>> plugins;
    {
        QMutexLocker lock(&mutex_);
        plugins.swap(plugins_);
        devices_.clear();
    }
    for (const auto &plugin : plugins)
        plugin->disconnect(this);
    // The backends stop their threads and streams in their destructors, while Qt still runs.
}

void Client::reloadDevices()
{
    {
        QMutexLocker lock(&mutex_);
        devices_.clear();
        for (const auto &plugin : plugins_)
            devices_.append(plugin->devices());
    }
    emit deviceListChanged();
}

void Client::refreshAll()
{
    QMutexLocker lock(&mutex_);
    for (const auto &plugin : plugins_)
        QMetaObject::invokeMethod(plugin.get(), "reloadDeviceList", Qt::QueuedConnection);
}

DeviceList Client::devices() const
{
    QMutexLocker lock(&mutex_);
    return devices_;
}

bool Client::hasDevice(const QString &id) const
{
    QMutexLocker lock(&mutex_);
    return std::any_of(devices_.cbegin(), devices_.cend(),
                       [&id](const DeviceInfo &d) { return d.id == id; });
}

QString Client::deviceName(const QString &id) const
{
    QMutexLocker lock(&mutex_);
    for (const DeviceInfo &d : devices_)
        if (d.id == id)
            return d.name;
    return QString();
}

DeviceInfo::Id Client::defaultDevice(const Plugin::Direction &direction) const
{
    QList<std::shared_ptr<Plugin>> plugins;
    {
        QMutexLocker lock(&mutex_);
        plugins = plugins_;
    }
    for (const auto &plugin : plugins) {
        const DeviceInfo::Id id = plugin->defaultDevice(direction);
        if (!id.isEmpty())
            return id;
    }
    return DeviceInfo::Id();
}

std::shared_ptr<Plugin> Client::pluginForDevice(const QString &id) const
{
    QMutexLocker lock(&mutex_);
    // Only the first row with this id counts, even when its backend is gone.
    const auto row = std::find_if(devices_.cbegin(), devices_.cend(),
                                  [&id](const DeviceInfo &d) { return d.id == id; });
    if (row == devices_.cend())
        return nullptr;
    for (const auto &plugin : plugins_)
        if (plugin->name() == row->pluginName)
            return plugin;
    return nullptr;
}

DeviceInfo::Id Client::currentDeviceId(const QString &savedId) const
{
    if (savedId.isEmpty() || hasDevice(savedId))
        return savedId;
    for (const auto &plugin : plugins_) {
        const DeviceInfo::Id id = plugin->currentId(savedId);
        if (!id.isEmpty() && hasDevice(id))
            return id;
    }
    return DeviceInfo::Id();
}

Format Client::preferredFormat(const QString &id, const Plugin::Direction &direction) const
{
    if (const auto plugin = pluginForDevice(id))
        return plugin->preferredFormat(id, direction);
    return Format{};
}

Format Client::preferredInputFormat(const QString &id) const
{
    return preferredFormat(id, Plugin::Input);
}

Format Client::preferredOutputFormat(const QString &id) const
{
    return preferredFormat(id, Plugin::Output);
}

Stream *Client::open(const QString &id, const Plugin::Direction &direction, const Format &format,
                     QIODevice *device)
{
    if (const auto plugin = pluginForDevice(id))
        return plugin->open(id, direction, format, device);
    return nullptr;
}

Stream *Client::openInput(const QString &id, QIODevice *sink, const Format &format)
{
    return open(id, Plugin::Input, format, sink);
}

Stream *Client::openOutput(const QString &id, QIODevice *source, const Format &format)
{
    return open(id, Plugin::Output, format, source);
}

} // namespace audio
