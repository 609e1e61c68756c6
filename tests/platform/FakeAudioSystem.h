#pragma once

#include "platform/AudioLayer.h"
#include "platform/Event.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <memory>
#include <optional>
#include <utility>

namespace snt::test {

using platform::Result;
using platform::WaveFormat;
class FakeAudioClient;

// Runs `f` under `mutex`, for the one-line accessors of the fakes.
template<typename F>
auto lockedCall(QMutex &mutex, F f)
{
    QMutexLocker lock(&mutex);
    return f();
}

// An in-process audio layer for tests; it is its own enumerator and lists every endpoint as one
// collection. Any call can be made to fail: failCall("mixFormat", code, n) makes the n-th
// mixFormat call answer `code` (calls are named after the layer's methods; a failed createEvent
// answers no event). Audio clients do not run by themselves: the test plays the engine
// (FakeAudioClient::consume, pushPacket, tick), so every step of a stream thread happens when
// the test says.
class FakeAudioSystem
    : public platform::AudioSystem
    , public platform::DeviceEnumerator
    , public platform::DeviceCollection
    , public std::enable_shared_from_this<FakeAudioSystem>
{
public:
    struct EndpointSpec
    {
        QString id;
        QString name;
        platform::DataFlow flow = platform::DataFlow::Render;
        std::optional<WaveFormat> deviceFormat; // empty: no device-format property
        WaveFormat mixFormat;
    };

    void addEndpoint(const EndpointSpec &e)
    {
        locked([&] { endpoints_.append(e); });
    }
    void setDefault(platform::DataFlow flow, const QString &id)
    {
        locked([&] { defaults_.insert(int(flow), id); });
    }
    void failCall(const QString &call, Result code, int occurrence = 1)
    {
        locked([&] { faults_.insert({call, occurrence}, code); });
    }
    // Records the call and answers the injected code for it, or success.
    Result hit(const QString &call)
    {
        return locked([&] { return faults_.value({call, ++callCounts_[call]}); });
    }
    // Hands `value` out through `out` and answers as hit() does.
    template<typename T, typename V>
    Result give(T *out, const V &value, const QString &call)
    {
        *out = value;
        return hit(call);
    }
    int callCount(const QString &call)
    {
        return locked([&] { return callCounts_.value(call); });
    }
    std::shared_ptr<FakeAudioClient> lastClient()
    {
        return locked([this] { return client_; });
    }
    void setLastClient(std::shared_ptr<FakeAudioClient> c)
    {
        locked([&] { client_ = c; });
    }

    Result createDeviceEnumerator(std::shared_ptr<platform::DeviceEnumerator> *e) override
    {
        *e = shared_from_this();
        return hit("createDeviceEnumerator");
    }
    std::shared_ptr<platform::Event> createEvent() override
    {
        return platform::succeeded(hit("createEvent")) ? std::make_shared<platform::Event>()
                                                       : nullptr;
    }
    Result enumAudioEndpoints(platform::DataFlow flow, uint32_t stateMask,
                              std::shared_ptr<platform::DeviceCollection> *devices) override;
    Result defaultAudioEndpoint(platform::DataFlow flow, platform::Role,
                                std::shared_ptr<platform::Device> *device) override
    {
        const QString id = locked([&] { return defaults_.value(int(flow)); });
        return deviceWithId("defaultAudioEndpoint", id, device, flow);
    }
    Result device(const QString &id, platform::DataFlow flow,
                  std::shared_ptr<platform::Device> *device) override
    {
        return deviceWithId("device", id, device, flow);
    }
    Result count(uint32_t *count) override
    {
        *count = locked([this] { return uint32_t(endpoints_.size()); });
        return hit("count");
    }
    Result item(uint32_t index, std::shared_ptr<platform::Device> *device) override;

private:
    template<typename F>
    auto locked(F f) -> decltype(f())
    {
        return lockedCall(mutex_, f);
    }
    // The endpoint with the id on the side `flow` (either for DataFlow::All).
    Result deviceWithId(const QString &call, const QString &id,
                        std::shared_ptr<platform::Device> *device,
                        platform::DataFlow flow = platform::DataFlow::All);

    QMutex mutex_;
    QList<EndpointSpec> endpoints_;
    QHash<int, QString> defaults_;
    QHash<std::pair<QString, int>, Result> faults_;
    QHash<QString, int> callCounts_;
    std::shared_ptr<FakeAudioClient> client_;
};

// The audio client of a fake endpoint. Render: every released region is appended to
// rendered() (release flags are ignored); padding is what was released and not yet consumed by the test; the region handed
// out holds stale bytes (0x7f) until written. Capture: the test queues packets, then ticks.
class FakeAudioClient
    : public platform::AudioClient
    , public platform::RenderClient
    , public platform::CaptureClient
    , public std::enable_shared_from_this<FakeAudioClient>
{
public:
    struct InitializeArgs
    {
        platform::ShareMode mode = platform::ShareMode::Shared;
        uint32_t flags = 0;
        platform::RefTime bufferDuration = 0;
        platform::RefTime periodicity = -1;
        WaveFormat format;
    };
    static constexpr platform::RefTime defaultPeriod = 100'000;

    FakeAudioClient(FakeAudioSystem *system, const WaveFormat &mix)
        : system_(system)
        , mix_(mix)
    { }

    // Engine side, driven by the test.
    void tick()
    {
        locked([this] { return event_; })->set();
    }
    void setDeviceDelay(uint32_t frames)
    {
        locked([&] { deviceDelay_ = frames; });
    }
    void consume(uint32_t frames)
    {
        locked([&] { padding_ -= std::min(padding_, frames); });
    }
    // Queues a packet at the device position after the last one (and after any frames lost),
    // captured at `qpc` (0: the device tells no time).
    void pushPacket(const QByteArray &samples, uint32_t frames, uint32_t flags,
                    platform::QpcTime qpc = 0)
    {
        locked([&] {
            packets_.append(
                    Packet{samples, frames, flags | std::exchange(nextFlags_, 0), position_, qpc});
            position_ += frames;
        });
    }
    // Render: the stream's frame `position` leaves the device at `qpc`.
    void setClock(uint64_t position, platform::QpcTime qpc)
    {
        locked([&] { clock_ = {position, qpc}; });
    }
    // The engine loses `frames` frames: the next packet comes after them, flagged.
    void loseFrames(uint32_t frames)
    {
        locked([&] {
            position_ += frames;
            nextFlags_ |= platform::bufferflags::DataDiscontinuity;
        });
    }
    QByteArray rendered()
    {
        return locked([this] { return rendered_; });
    }
    std::optional<InitializeArgs> initializeArgs()
    {
        return locked([this] { return init_; });
    }

    Result mixFormat(WaveFormat *format) override { return give(format, mix_, "mixFormat"); }
    Result devicePeriod(platform::RefTime *period, platform::RefTime *minimum) override
    {
        *minimum = defaultPeriod / 3;
        return give(period, defaultPeriod, "devicePeriod");
    }
    Result initialize(platform::ShareMode mode, uint32_t streamFlags,
                      platform::RefTime bufferDuration, platform::RefTime periodicity,
                      const WaveFormat &format) override;
    Result setEventHandle(std::shared_ptr<platform::Event> event) override
    {
        locked([&] { event_ = std::move(event); });
        return system_->hit("setEventHandle");
    }
    Result bufferSize(uint32_t *frames) override
    {
        return give(frames, locked([this] { return bufferFrames_; }), "bufferSize");
    }
    Result currentPadding(uint32_t *frames) override
    {
        return give(frames, locked([this] { return padding_; }), "currentPadding");
    }
    Result deviceDelay(uint32_t *frames) override
    {
        return give(frames, locked([this] { return deviceDelay_; }), "deviceDelay");
    }
    Result clock(uint64_t *position, platform::QpcTime *qpc) override
    {
        const auto [at, when] = locked([this] { return clock_; });
        *position = at;
        return give(qpc, when, "clock");
    }
    Result renderClient(std::shared_ptr<platform::RenderClient> *client) override
    {
        return give(client, shared_from_this(), "renderClient");
    }
    Result captureClient(std::shared_ptr<platform::CaptureClient> *client) override
    {
        return give(client, shared_from_this(), "captureClient");
    }
    Result start() override { return system_->hit("start"); }
    Result stop() override { return system_->hit("stop"); }

    Result buffer(uint32_t frames, uint8_t **data) override;
    Result releaseBuffer(uint32_t frames, uint32_t flags) override;
    Result nextPacketSize(uint32_t *frames) override
    {
        return give(frames, locked([this] { return packets_.value(0).frames; }), "nextPacketSize");
    }
    Result buffer(uint8_t **data, uint32_t *frames, uint32_t *flags, uint64_t *devicePosition,
                  platform::QpcTime *qpc) override;
    Result releaseBuffer(uint32_t frames) override;

private:
    struct Packet
    {
        QByteArray samples;
        uint32_t frames = 0;
        uint32_t flags = 0;
        uint64_t position = 0;
        platform::QpcTime qpc = 0;
    };
    template<typename F>
    auto locked(F f) -> decltype(f())
    {
        return lockedCall(mutex_, f);
    }
    template<typename T, typename V>
    Result give(T *out, const V &value, const char *call)
    {
        return system_->give(out, value, call);
    }

    FakeAudioSystem *const system_;
    const WaveFormat mix_;
    QMutex mutex_;
    std::optional<InitializeArgs> init_;
    std::shared_ptr<platform::Event> event_;
    uint32_t bufferFrames_ = 0;
    uint32_t padding_ = 0;
    uint32_t deviceDelay_ = 0;
    std::pair<uint64_t, platform::QpcTime> clock_{0, 0};
    QByteArray staging_;
    QByteArray rendered_;
    QList<Packet> packets_;
    uint64_t position_ = 0;
    uint32_t nextFlags_ = 0;
};

} // namespace snt::test
