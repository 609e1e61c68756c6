#include "tests/platform/FakeAudioSystem.h"

#include <cstring>

namespace snt::test {

using platform::DataFlow;
namespace result = platform::result;

namespace {

// One endpoint: the device, its endpoint interface and its property store in one object.
class FakeDevice
    : public platform::Device
    , public platform::Endpoint
    , public platform::PropertyStore
    , public std::enable_shared_from_this<FakeDevice>
{
public:
    FakeDevice(FakeAudioSystem *system, FakeAudioSystem::EndpointSpec endpoint)
        : system_(system)
        , endpoint_(std::move(endpoint))
    { }
    Result id(QString *id) override { return system_->give(id, endpoint_.id, "id"); }
    Result endpoint(std::shared_ptr<platform::Endpoint> *endpoint) override
    {
        return system_->give(endpoint, shared_from_this(), "endpoint");
    }
    Result openPropertyStore(std::shared_ptr<platform::PropertyStore> *store) override
    {
        return system_->give(store, shared_from_this(), "openPropertyStore");
    }
    Result activateAudioClient(std::shared_ptr<platform::AudioClient> *client) override
    {
        const Result r = system_->hit("activateAudioClient");
        if (platform::succeeded(r)) {
            auto fake = std::make_shared<FakeAudioClient>(system_, endpoint_.mixFormat);
            system_->setLastClient(fake);
            *client = fake;
        }
        return r;
    }
    Result dataFlow(DataFlow *flow) override
    {
        return system_->give(flow, endpoint_.flow, "dataFlow");
    }
    Result value(platform::PropertyKey key, platform::PropertyValue *value) override
    {
        if (key == platform::PropertyKey::FriendlyName)
            *value = endpoint_.name;
        else if (endpoint_.deviceFormat)
            *value = *endpoint_.deviceFormat;
        else
            *value = std::monostate();
        return system_->hit("value");
    }

private:
    FakeAudioSystem *const system_;
    const FakeAudioSystem::EndpointSpec endpoint_;
};

} // namespace

Result FakeAudioSystem::enumAudioEndpoints(DataFlow flow, uint32_t,
                                           std::shared_ptr<platform::DeviceCollection> *devices)
{
    if (flow != DataFlow::All) // only the listing of both sides is needed
        return result::InvalidArg;
    *devices = shared_from_this();
    return hit("enumAudioEndpoints");
}

Result FakeAudioSystem::deviceWithId(const QString &call, const QString &id,
                                     std::shared_ptr<platform::Device> *device,
                                     platform::DataFlow flow)
{
    if (const Result r = hit(call); !platform::succeeded(r))
        return r;
    const auto endpoints = locked([this] { return endpoints_; });
    for (const auto &e : endpoints) {
        if (e.id == id && (flow == platform::DataFlow::All || e.flow == flow)) {
            *device = std::make_shared<FakeDevice>(this, e);
            return result::Ok;
        }
    }
    return result::NotFound;
}

Result FakeAudioSystem::item(uint32_t index, std::shared_ptr<platform::Device> *device)
{
    if (const Result r = hit("item"); !platform::succeeded(r))
        return r;
    *device = std::make_shared<FakeDevice>(this, locked([&] { return endpoints_.at(index); }));
    return result::Ok;
}

Result FakeAudioClient::initialize(platform::ShareMode mode, uint32_t flags,
                                   platform::RefTime duration, platform::RefTime periodicity,
                                   const WaveFormat &format)
{
    if (const Result r = system_->hit("initialize"); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    init_ = InitializeArgs{mode, flags, duration, periodicity, format};
    bufferFrames_ = uint32_t(duration * format.samplesPerSec / platform::refTimePerSecond);
    staging_.resize(qsizetype(bufferFrames_) * format.blockAlign);
    return result::Ok;
}

Result FakeAudioClient::buffer(uint32_t frames, uint8_t **data)
{
    QMutexLocker lock(&mutex_);
    Q_ASSERT(frames <= bufferFrames_ - padding_);
    std::memset(staging_.data(), 0x7f, size_t(frames) * init_->format.blockAlign);
    *data = reinterpret_cast<uint8_t *>(staging_.data());
    lock.unlock();
    return system_->hit("buffer");
}

Result FakeAudioClient::releaseBuffer(uint32_t frames, uint32_t)
{
    if (const Result r = system_->hit("releaseBuffer"); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    const qsizetype bytes = qsizetype(frames) * init_->format.blockAlign;
    rendered_.append(staging_.left(bytes));
    padding_ += frames;
    return result::Ok;
}

Result FakeAudioClient::buffer(uint8_t **data, uint32_t *frames, uint32_t *flags,
                               uint64_t *devicePosition, platform::QpcTime *qpc)
{
    QMutexLocker lock(&mutex_);
    if (packets_.isEmpty())
        return result::OutOfOrder;
    Packet &packet = packets_.first();
    *data = reinterpret_cast<uint8_t *>(packet.samples.data());
    *frames = packet.frames;
    *flags = packet.flags;
    *devicePosition = packet.position;
    *qpc = packet.qpc;
    lock.unlock();
    return system_->hit("buffer");
}

Result FakeAudioClient::releaseBuffer(uint32_t frames)
{
    if (const Result r = system_->hit("releaseBuffer"); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    if (frames != 0)
        packets_.removeFirst();
    return result::Ok;
}

} // namespace snt::test
