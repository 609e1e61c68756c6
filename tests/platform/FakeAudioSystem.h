#pragma once

#include "platform/AudioLayer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <memory>
#include <optional>

namespace snt::test {

class FakeAudioClient;

// An in-process audio layer for tests. Endpoints are scripted; any call can be made to fail:
// failCall("mixFormat", code) makes the first mixFormat call answer `code` (calls are named
// after the layer's methods; `occurrence` picks a later call of that name). Audio clients do
// not run by themselves: the test plays the engine (FakeAudioClient::consume, pushPacket,
// tick), so every step of a stream thread happens when the test says.
class FakeAudioSystem : public platform::AudioSystem,
                        public std::enable_shared_from_this<FakeAudioSystem> {
public:
    struct EndpointSpec {
        QString id;
        QString name;
        platform::DataFlow flow = platform::DataFlow::Render;
        // Empty: the endpoint has no device-format property.
        std::optional<platform::WaveFormat> deviceFormat;
        platform::WaveFormat mixFormat = platform::WaveFormat::extensibleFloat(48000, 2);
    };

    void addEndpoint(const EndpointSpec& endpoint);
    void setDefault(platform::DataFlow flow, const QString& id);
    void failCall(const QString& call, platform::Result code, int occurrence = 1);
    void setEventCreationFails(bool fails) { eventCreationFails_ = fails; }

    // Records the call and answers the injected code for it, or success.
    platform::Result hit(const QString& call);
    QStringList calls() const;
    int callCount(const QString& call) const;
    std::shared_ptr<FakeAudioClient> lastClient() const;
    QList<EndpointSpec> endpoints() const;
    std::optional<EndpointSpec> endpoint(const QString& id) const;
    QString defaultId(platform::DataFlow flow) const;
    void registerClient(const std::shared_ptr<FakeAudioClient>& client);

    platform::Result createDeviceEnumerator(
        std::shared_ptr<platform::DeviceEnumerator>* enumerator) override;
    std::shared_ptr<platform::Event> createEvent() override;

private:
    mutable QMutex mutex_;
    QList<EndpointSpec> endpoints_;
    QHash<int, QString> defaults_;
    QHash<QString, QList<QPair<int, platform::Result>>> faults_;
    QStringList calls_;
    QHash<QString, int> callCounts_;
    std::shared_ptr<FakeAudioClient> lastClient_;
    bool eventCreationFails_ = false;
};

// The audio client of a fake endpoint. Render: every released region is appended to
// rendered(); padding is what was released and not yet consumed by the test. Capture: the test
// queues packets and then ticks the event.
class FakeAudioClient : public platform::AudioClient,
                        public platform::RenderClient,
                        public platform::CaptureClient,
                        public std::enable_shared_from_this<FakeAudioClient> {
public:
    struct InitializeArgs {
        platform::ShareMode mode = platform::ShareMode::Shared;
        uint32_t flags = 0;
        platform::RefTime bufferDuration = 0;
        platform::RefTime periodicity = -1;
        platform::WaveFormat format;
    };
    static constexpr platform::RefTime defaultPeriod = 100'000;

    FakeAudioClient(FakeAudioSystem* system, FakeAudioSystem::EndpointSpec endpoint);

    // Engine side, driven by the test.
    void tick();
    void consume(uint32_t frames);
    void pushPacket(const QByteArray& samples, uint32_t frames, uint32_t flags);
    QByteArray rendered() const;
    std::optional<InitializeArgs> initializeArgs() const;
    bool isStarted() const;

    platform::Result mixFormat(platform::WaveFormat* format) override;
    platform::Result devicePeriod(platform::RefTime* defaultPeriod,
                                  platform::RefTime* minimumPeriod) override;
    platform::Result initialize(platform::ShareMode mode, uint32_t streamFlags,
                                platform::RefTime bufferDuration, platform::RefTime periodicity,
                                const platform::WaveFormat& format) override;
    platform::Result setEventHandle(std::shared_ptr<platform::Event> event) override;
    platform::Result bufferSize(uint32_t* frames) override;
    platform::Result currentPadding(uint32_t* frames) override;
    platform::Result renderClient(std::shared_ptr<platform::RenderClient>* client) override;
    platform::Result captureClient(std::shared_ptr<platform::CaptureClient>* client) override;
    platform::Result start() override;
    platform::Result stop() override;

    platform::Result buffer(uint32_t frames, uint8_t** data) override;
    platform::Result releaseBuffer(uint32_t frames, uint32_t flags) override;
    platform::Result nextPacketSize(uint32_t* frames) override;
    platform::Result buffer(uint8_t** data, uint32_t* frames, uint32_t* flags) override;
    platform::Result releaseBuffer(uint32_t frames) override;

private:
    struct Packet {
        QByteArray samples;
        uint32_t frames = 0;
        uint32_t flags = 0;
    };

    FakeAudioSystem* const system_;
    const FakeAudioSystem::EndpointSpec endpoint_;
    mutable QMutex mutex_;
    std::optional<InitializeArgs> init_;
    std::shared_ptr<platform::Event> event_;
    bool started_ = false;
    uint32_t bufferFrames_ = 0;
    uint32_t padding_ = 0;
    QByteArray staging_;
    QByteArray rendered_;
    QList<Packet> packets_;
};

}  // namespace snt::test
