#include "platform/asio/AsioHost.h"

#include "platform/jack/JackServers.h"

namespace platform::asio {
namespace {

QString shownName(const DriverEntry &entry)
{
    return (entry.description.isEmpty() ? entry.key : entry.description).left(Host::maxNameLength);
}

} // namespace

Host::Host(DriverSource source)
    : source_(std::move(source))
{ }

Host::~Host() = default;

QStringList Host::driverNames(int maxCount)
{
    QStringList names;
    for (const DriverEntry &entry : source_()) {
        if (names.size() >= maxCount)
            break;
        if (entry.load)
            names.append(shownName(entry));
    }
    return names;
}

bool Host::loadDriver(const QString &name)
{
    removeCurrentDriver();
    for (const DriverEntry &entry : source_()) {
        if (entry.load && shownName(entry) == name) {
            driver_ = entry.load();
            return driver_ != nullptr;
        }
    }
    return false;
}

void Host::removeCurrentDriver()
{
    driver_.reset();
}

Error Host::init()
{
    return call([](Driver &d) { return d.init(); });
}

Error Host::exit()
{
    return call([](Driver &d) { return d.exit(); });
}

Error Host::start()
{
    return call([](Driver &d) { return d.start(); });
}

Error Host::stop()
{
    return call([](Driver &d) { return d.stop(); });
}

Error Host::channels(int *inputs, int *outputs)
{
    return call([&](Driver &d) { return d.channels(inputs, outputs); });
}

Error Host::bufferSize(int *minimum, int *maximum, int *preferred, int *granularity)
{
    return call([&](Driver &d) { return d.bufferSize(minimum, maximum, preferred, granularity); });
}

Error Host::sampleRate(double *rate)
{
    return call([&](Driver &d) { return d.sampleRate(rate); });
}

Error Host::setSampleRate(double rate)
{
    return call([&](Driver &d) { return d.setSampleRate(rate); });
}

Error Host::channelInfo(ChannelInfo *info)
{
    const Error e = call([&](Driver &d) { return d.channelInfo(info); });
    info->name.truncate(maxNameLength);
    return e;
}

Error Host::createBuffers(BufferInfo *infos, int count, int frames, HostCallbacks *callbacks)
{
    return call([&](Driver &d) { return d.createBuffers(infos, count, frames, callbacks); });
}

Error Host::disposeBuffers()
{
    return call([](Driver &d) { return d.disposeBuffers(); });
}

Error Host::outputReady()
{
    return call([](Driver &d) { return d.outputReady(); });
}

Error Host::samplePosition(int64_t *position, int64_t *systemTimeNs)
{
    return call([&](Driver &d) { return d.samplePosition(position, systemTimeNs); });
}

std::shared_ptr<Host> systemHost()
{
    return std::make_shared<Host>(&jack::runningServers);
}

} // namespace platform::asio
