#include "tests/platform/FakeAudioSystem.h"

#include "platform/Event.h"

#include <QMutexLocker>
#include <cstring>

namespace snt::test {

using platform::DataFlow;
using platform::Result;
namespace result = platform::result;

namespace {

class FakeEndpoint : public platform::Endpoint {
public:
    FakeEndpoint(FakeAudioSystem* system, DataFlow flow) : system_(system), flow_(flow) { }
    Result dataFlow(DataFlow* flow) override
    {
        *flow = flow_;
        return system_->hit(QStringLiteral("dataFlow"));
    }

private:
    FakeAudioSystem* const system_;
    const DataFlow flow_;
};

class FakePropertyStore : public platform::PropertyStore {
public:
    FakePropertyStore(FakeAudioSystem* system, FakeAudioSystem::EndpointSpec endpoint)
        : system_(system), endpoint_(std::move(endpoint))
    {
    }
    Result value(platform::PropertyKey key, platform::PropertyValue* value) override
    {
        if (key == platform::PropertyKey::FriendlyName)
            *value = endpoint_.name;
        else if (endpoint_.deviceFormat)
            *value = *endpoint_.deviceFormat;
        else
            *value = std::monostate();
        return system_->hit(QStringLiteral("value"));
    }

private:
    FakeAudioSystem* const system_;
    const FakeAudioSystem::EndpointSpec endpoint_;
};

class FakeDevice : public platform::Device {
public:
    FakeDevice(FakeAudioSystem* system, FakeAudioSystem::EndpointSpec endpoint)
        : system_(system), endpoint_(std::move(endpoint))
    {
    }
    Result id(QString* id) override
    {
        *id = endpoint_.id;
        return system_->hit(QStringLiteral("id"));
    }
    Result endpoint(std::shared_ptr<platform::Endpoint>* endpoint) override
    {
        *endpoint = std::make_shared<FakeEndpoint>(system_, endpoint_.flow);
        return system_->hit(QStringLiteral("endpoint"));
    }
    Result openPropertyStore(std::shared_ptr<platform::PropertyStore>* store) override
    {
        *store = std::make_shared<FakePropertyStore>(system_, endpoint_);
        return system_->hit(QStringLiteral("openPropertyStore"));
    }
    Result activateAudioClient(std::shared_ptr<platform::AudioClient>* client) override
    {
        const Result r = system_->hit(QStringLiteral("activateAudioClient"));
        if (!platform::succeeded(r))
            return r;
        auto fake = std::make_shared<FakeAudioClient>(system_, endpoint_);
        system_->registerClient(fake);
        *client = fake;
        return r;
    }

private:
    FakeAudioSystem* const system_;
    const FakeAudioSystem::EndpointSpec endpoint_;
};

class FakeCollection : public platform::DeviceCollection {
public:
    FakeCollection(FakeAudioSystem* system, QList<FakeAudioSystem::EndpointSpec> endpoints)
        : system_(system), endpoints_(std::move(endpoints))
    {
    }
    Result count(uint32_t* count) override
    {
        *count = uint32_t(endpoints_.size());
        return system_->hit(QStringLiteral("count"));
    }
    Result item(uint32_t index, std::shared_ptr<platform::Device>* device) override
    {
        const Result r = system_->hit(QStringLiteral("item"));
        if (platform::succeeded(r))
            *device = std::make_shared<FakeDevice>(system_, endpoints_.at(index));
        return r;
    }

private:
    FakeAudioSystem* const system_;
    const QList<FakeAudioSystem::EndpointSpec> endpoints_;
};

class FakeEnumerator : public platform::DeviceEnumerator {
public:
    explicit FakeEnumerator(FakeAudioSystem* system) : system_(system) { }
    Result enumAudioEndpoints(DataFlow flow, uint32_t,
                              std::shared_ptr<platform::DeviceCollection>* devices) override
    {
        QList<FakeAudioSystem::EndpointSpec> chosen;
        for (const auto& e : system_->endpoints())
            if (flow == DataFlow::All || e.flow == flow)
                chosen.append(e);
        *devices = std::make_shared<FakeCollection>(system_, chosen);
        return system_->hit(QStringLiteral("enumAudioEndpoints"));
    }
    Result defaultAudioEndpoint(DataFlow flow, platform::Role,
                                std::shared_ptr<platform::Device>* device) override
    {
        const Result r = system_->hit(QStringLiteral("defaultAudioEndpoint"));
        if (!platform::succeeded(r))
            return r;
        const auto endpoint = system_->endpoint(system_->defaultId(flow));
        if (!endpoint)
            return result::NotFound;
        *device = std::make_shared<FakeDevice>(system_, *endpoint);
        return r;
    }
    Result device(const QString& id, std::shared_ptr<platform::Device>* device) override
    {
        const Result r = system_->hit(QStringLiteral("device"));
        if (!platform::succeeded(r))
            return r;
        const auto endpoint = system_->endpoint(id);
        if (!endpoint)
            return result::NotFound;
        *device = std::make_shared<FakeDevice>(system_, *endpoint);
        return r;
    }

private:
    FakeAudioSystem* const system_;
};

}  // namespace

void FakeAudioSystem::addEndpoint(const EndpointSpec& endpoint)
{
    QMutexLocker lock(&mutex_);
    endpoints_.append(endpoint);
}

void FakeAudioSystem::setDefault(DataFlow flow, const QString& id)
{
    QMutexLocker lock(&mutex_);
    defaults_.insert(int(flow), id);
}

void FakeAudioSystem::failCall(const QString& call, Result code, int occurrence)
{
    QMutexLocker lock(&mutex_);
    faults_[call].append({occurrence, code});
}

Result FakeAudioSystem::hit(const QString& call)
{
    QMutexLocker lock(&mutex_);
    calls_.append(call);
    const int occurrence = ++callCounts_[call];
    for (const auto& fault : faults_.value(call))
        if (fault.first == occurrence)
            return fault.second;
    return result::Ok;
}

QStringList FakeAudioSystem::calls() const
{
    QMutexLocker lock(&mutex_);
    return calls_;
}

int FakeAudioSystem::callCount(const QString& call) const
{
    QMutexLocker lock(&mutex_);
    return callCounts_.value(call);
}

std::shared_ptr<FakeAudioClient> FakeAudioSystem::lastClient() const
{
    QMutexLocker lock(&mutex_);
    return lastClient_;
}

QList<FakeAudioSystem::EndpointSpec> FakeAudioSystem::endpoints() const
{
    QMutexLocker lock(&mutex_);
    return endpoints_;
}

std::optional<FakeAudioSystem::EndpointSpec> FakeAudioSystem::endpoint(const QString& id) const
{
    QMutexLocker lock(&mutex_);
    for (const auto& e : endpoints_)
        if (e.id == id)
            return e;
    return std::nullopt;
}

QString FakeAudioSystem::defaultId(DataFlow flow) const
{
    QMutexLocker lock(&mutex_);
    return defaults_.value(int(flow));
}

void FakeAudioSystem::registerClient(const std::shared_ptr<FakeAudioClient>& client)
{
    QMutexLocker lock(&mutex_);
    lastClient_ = client;
}

Result FakeAudioSystem::createDeviceEnumerator(
    std::shared_ptr<platform::DeviceEnumerator>* enumerator)
{
    *enumerator = std::make_shared<FakeEnumerator>(this);
    return hit(QStringLiteral("createDeviceEnumerator"));
}

std::shared_ptr<platform::Event> FakeAudioSystem::createEvent()
{
    hit(QStringLiteral("createEvent"));
    return eventCreationFails_ ? nullptr : std::make_shared<platform::Event>();
}

FakeAudioClient::FakeAudioClient(FakeAudioSystem* system, FakeAudioSystem::EndpointSpec endpoint)
    : system_(system), endpoint_(std::move(endpoint))
{
}

void FakeAudioClient::tick()
{
    std::shared_ptr<platform::Event> event;
    {
        QMutexLocker lock(&mutex_);
        event = event_;
    }
    if (event)
        event->set();
}

void FakeAudioClient::consume(uint32_t frames)
{
    QMutexLocker lock(&mutex_);
    padding_ -= std::min(padding_, frames);
}

void FakeAudioClient::pushPacket(const QByteArray& samples, uint32_t frames, uint32_t flags)
{
    QMutexLocker lock(&mutex_);
    packets_.append(Packet{samples, frames, flags});
}

QByteArray FakeAudioClient::rendered() const
{
    QMutexLocker lock(&mutex_);
    return rendered_;
}

std::optional<FakeAudioClient::InitializeArgs> FakeAudioClient::initializeArgs() const
{
    QMutexLocker lock(&mutex_);
    return init_;
}

bool FakeAudioClient::isStarted() const
{
    QMutexLocker lock(&mutex_);
    return started_;
}

Result FakeAudioClient::mixFormat(platform::WaveFormat* format)
{
    *format = endpoint_.mixFormat;
    return system_->hit(QStringLiteral("mixFormat"));
}

Result FakeAudioClient::devicePeriod(platform::RefTime* period, platform::RefTime* minimum)
{
    *period = defaultPeriod;
    *minimum = defaultPeriod / 3;
    return system_->hit(QStringLiteral("devicePeriod"));
}

Result FakeAudioClient::initialize(platform::ShareMode mode, uint32_t flags,
                                   platform::RefTime duration, platform::RefTime periodicity,
                                   const platform::WaveFormat& format)
{
    if (const Result r = system_->hit(QStringLiteral("initialize")); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    if (init_)
        return result::AlreadyInitialized;
    if (format.channels == 0)
        return result::InvalidArg;
    init_ = InitializeArgs{mode, flags, duration, periodicity, format};
    bufferFrames_ = uint32_t(duration * format.samplesPerSec / platform::refTimePerSecond);
    staging_.resize(qsizetype(bufferFrames_) * format.blockAlign);
    return result::Ok;
}

Result FakeAudioClient::setEventHandle(std::shared_ptr<platform::Event> event)
{
    QMutexLocker lock(&mutex_);
    event_ = std::move(event);
    lock.unlock();
    return system_->hit(QStringLiteral("setEventHandle"));
}

Result FakeAudioClient::bufferSize(uint32_t* frames)
{
    QMutexLocker lock(&mutex_);
    *frames = bufferFrames_;
    lock.unlock();
    return system_->hit(QStringLiteral("bufferSize"));
}

Result FakeAudioClient::currentPadding(uint32_t* frames)
{
    QMutexLocker lock(&mutex_);
    *frames = padding_;
    lock.unlock();
    return system_->hit(QStringLiteral("currentPadding"));
}

Result FakeAudioClient::renderClient(std::shared_ptr<platform::RenderClient>* client)
{
    *client = shared_from_this();
    return system_->hit(QStringLiteral("renderClient"));
}

Result FakeAudioClient::captureClient(std::shared_ptr<platform::CaptureClient>* client)
{
    *client = shared_from_this();
    return system_->hit(QStringLiteral("captureClient"));
}

Result FakeAudioClient::start()
{
    const Result r = system_->hit(QStringLiteral("start"));
    QMutexLocker lock(&mutex_);
    started_ = platform::succeeded(r);
    return r;
}

Result FakeAudioClient::stop()
{
    QMutexLocker lock(&mutex_);
    started_ = false;
    lock.unlock();
    return system_->hit(QStringLiteral("stop"));
}

Result FakeAudioClient::buffer(uint32_t frames, uint8_t** data)
{
    QMutexLocker lock(&mutex_);
    // Stale memory in the region handed out: whatever is not written plays as this.
    Q_ASSERT(frames <= bufferFrames_ - padding_);
    std::memset(staging_.data(), 0x7f, size_t(frames) * init_->format.blockAlign);
    *data = reinterpret_cast<uint8_t*>(staging_.data());
    lock.unlock();
    return system_->hit(QStringLiteral("buffer"));
}

Result FakeAudioClient::releaseBuffer(uint32_t frames, uint32_t flags)
{
    if (const Result r = system_->hit(QStringLiteral("releaseBuffer")); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    const qsizetype bytes = qsizetype(frames) * init_->format.blockAlign;
    rendered_.append(flags & platform::bufferflags::Silent ? QByteArray(bytes, '\0')
                                                           : staging_.left(bytes));
    padding_ += frames;
    return result::Ok;
}

Result FakeAudioClient::nextPacketSize(uint32_t* frames)
{
    QMutexLocker lock(&mutex_);
    *frames = packets_.isEmpty() ? 0 : packets_.first().frames;
    lock.unlock();
    return system_->hit(QStringLiteral("nextPacketSize"));
}

Result FakeAudioClient::buffer(uint8_t** data, uint32_t* frames, uint32_t* flags)
{
    QMutexLocker lock(&mutex_);
    if (packets_.isEmpty()) {
        *data = nullptr;
        *frames = 0;
        *flags = 0;
        return system_->hit(QStringLiteral("buffer"));
    }
    Packet& packet = packets_.first();
    *data = reinterpret_cast<uint8_t*>(packet.samples.data());
    *frames = packet.frames;
    *flags = packet.flags;
    lock.unlock();
    return system_->hit(QStringLiteral("buffer"));
}

Result FakeAudioClient::releaseBuffer(uint32_t frames)
{
    if (const Result r = system_->hit(QStringLiteral("releaseBuffer")); !platform::succeeded(r))
        return r;
    QMutexLocker lock(&mutex_);
    if (frames != 0)
        packets_.removeFirst();
    return result::Ok;
}

}  // namespace snt::test
