#include "platform/alsa/AlsaAudioSystem.h"

#include "platform/Event.h"
#include "platform/alsa/AlsaAudioClient.h"
#include "platform/alsa/AlsaEndpoints.h"
#include "platform/alsa/AlsaPcm.h"
#include "platform/alsa/ServerDevices.h"

namespace platform::alsa {
namespace {

class AlsaEndpoint : public Endpoint
{
public:
    explicit AlsaEndpoint(DataFlow flow)
        : flow_(flow)
    { }
    Result dataFlow(DataFlow *flow) override
    {
        *flow = flow_;
        return result::Ok;
    }

private:
    const DataFlow flow_;
};

// What the devices of one look ask the sound server (their channels) goes over one connection.
using SharedServer = std::shared_ptr<ServerDevices>;

class AlsaPropertyStore : public PropertyStore
{
public:
    AlsaPropertyStore(EndpointInfo endpoint, SharedServer server)
        : endpoint_(std::move(endpoint))
        , server_(std::move(server))
    { }
    Result value(PropertyKey key, PropertyValue *value) override
    {
        if (key == PropertyKey::FriendlyName) {
            *value = endpoint_.friendlyName;
            return result::Ok;
        }
        // A format that cannot be learnt now (the device is busy elsewhere) reads as empty.
        WaveFormat format;
        if (succeeded(AlsaEndpoints::engineFormat(endpoint_, *server_, &format)))
            *value = format;
        else
            *value = std::monostate();
        return result::Ok;
    }

private:
    const EndpointInfo endpoint_;
    const SharedServer server_;
};

class AlsaDevice : public Device
{
public:
    explicit AlsaDevice(EndpointInfo endpoint,
                        SharedServer server = std::make_shared<ServerDevices>())
        : endpoint_(std::move(endpoint))
        , server_(std::move(server))
    { }
    Result id(QString *id) override
    {
        *id = endpoint_.id;
        return result::Ok;
    }
    Result endpoint(std::shared_ptr<Endpoint> *endpoint) override
    {
        *endpoint = std::make_shared<AlsaEndpoint>(endpoint_.flow);
        return result::Ok;
    }
    Result openPropertyStore(std::shared_ptr<PropertyStore> *store) override
    {
        *store = std::make_shared<AlsaPropertyStore>(endpoint_, server_);
        return result::Ok;
    }
    Result activateAudioClient(std::shared_ptr<AudioClient> *client) override
    {
        *client = std::make_shared<AlsaAudioClient>(endpoint_);
        return result::Ok;
    }

private:
    const EndpointInfo endpoint_;
    const SharedServer server_;
};

class AlsaDeviceCollection : public DeviceCollection
{
public:
    explicit AlsaDeviceCollection(QList<EndpointInfo> endpoints)
        : endpoints_(std::move(endpoints))
    { }
    Result count(uint32_t *count) override
    {
        *count = uint32_t(endpoints_.size());
        return result::Ok;
    }
    Result item(uint32_t index, std::shared_ptr<Device> *device) override
    {
        if (index >= uint32_t(endpoints_.size()))
            return result::InvalidArg;
        *device = std::make_shared<AlsaDevice>(endpoints_.at(index), server_);
        return result::Ok;
    }

private:
    const QList<EndpointInfo> endpoints_;
    const SharedServer server_ = std::make_shared<ServerDevices>();
};

class AlsaDeviceEnumerator : public DeviceEnumerator
{
public:
    Result enumAudioEndpoints(DataFlow flow, uint32_t stateMask,
                              std::shared_ptr<DeviceCollection> *devices) override
    {
        QList<EndpointInfo> chosen;
        // Every endpoint ALSA lists is active; no other state is known here.
        if (stateMask & deviceStateActive) {
            for (const EndpointInfo &e : AlsaEndpoints::list())
                if (flow == DataFlow::All || e.flow == flow)
                    chosen.append(e);
        }
        *devices = std::make_shared<AlsaDeviceCollection>(chosen);
        return result::Ok;
    }

    Result defaultAudioEndpoint(DataFlow flow, Role, std::shared_ptr<Device> *device) override
    {
        if (flow == DataFlow::All)
            return result::InvalidArg;
        // "default" leads the list in both directions.
        for (const EndpointInfo &e : AlsaEndpoints::list()) {
            if (e.flow == flow) {
                *device = std::make_shared<AlsaDevice>(e);
                return result::Ok;
            }
        }
        return result::NotFound;
    }

    Result device(const QString &id, DataFlow flow, std::shared_ptr<Device> *device) override
    {
        const std::optional<EndpointInfo> endpoint = AlsaEndpoints::find(id, flow);
        if (!endpoint)
            return result::NotFound;
        *device = std::make_shared<AlsaDevice>(*endpoint);
        return result::Ok;
    }
};

} // namespace

AlsaAudioSystem::AlsaAudioSystem()
{
    installErrorHandler();
}

Result AlsaAudioSystem::createDeviceEnumerator(std::shared_ptr<DeviceEnumerator> *enumerator)
{
    *enumerator = std::make_shared<AlsaDeviceEnumerator>();
    return result::Ok;
}

std::shared_ptr<Event> AlsaAudioSystem::createEvent()
{
    return std::make_shared<Event>();
}

} // namespace platform::alsa

namespace platform {

std::shared_ptr<AudioSystem> systemAudio()
{
    static const auto system = std::make_shared<alsa::AlsaAudioSystem>();
    return system;
}

} // namespace platform
