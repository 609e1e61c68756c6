#pragma once

#include "platform/asio/AsioDriver.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace platform::asio {

// One installed driver as the machine lists it: a key, an optional description (the name shown
// to users) and a way to load it; an entry that cannot be loaded has no `load`.
struct DriverEntry
{
    QString key;
    QString description;
    std::function<std::unique_ptr<Driver>()> load;
};

// Lists the drivers installed right now, in the machine's order.
using DriverSource = std::function<QList<DriverEntry>()>;

// The host side of the layer: the list of installed drivers and the one current driver, which
// every host call goes to. Without a loaded driver every call answers NotPresent. Loading and
// unloading happen while no driver runs; the calls a period callback makes (samplePosition,
// outputReady, stop) therefore never meet a change of driver.
class Host
{
public:
    static constexpr int maxNameLength = 31;

    explicit Host(DriverSource source);
    ~Host();

    // The names of at most `maxCount` loadable drivers: the description, or the key, cut to
    // 31 characters.
    QStringList driverNames(int maxCount);
    // Unloads the current driver and loads the one listed under `name`.
    bool loadDriver(const QString &name);
    void removeCurrentDriver();
    bool hasDriver() const { return driver_ != nullptr; }

    Error init();
    Error exit();
    Error start();
    Error stop();
    Error channels(int *inputs, int *outputs);
    Error bufferSize(int *minimum, int *maximum, int *preferred, int *granularity);
    Error sampleRate(double *rate);
    Error setSampleRate(double rate);
    // Channel names longer than 31 characters are cut.
    Error channelInfo(ChannelInfo *info);
    Error createBuffers(BufferInfo *infos, int count, int frames, HostCallbacks *callbacks);
    Error disposeBuffers();
    Error outputReady();
    Error samplePosition(int64_t *position, int64_t *systemTimeNs);

private:
    template<typename Call>
    Error call(Call c)
    {
        return driver_ ? c(*driver_) : error::NotPresent;
    }

    const DriverSource source_;
    std::unique_ptr<Driver> driver_;
};

// The host over this machine's drivers: one per running sound server.
std::shared_ptr<Host> systemHost();

} // namespace platform::asio
