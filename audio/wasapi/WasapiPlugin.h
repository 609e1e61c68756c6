#pragma once

#include "audio/Plugin.h"
#include "platform/AudioLayer.h"

#include <QList>
#include <QMutex>
#include <memory>

namespace audio {

namespace wasapi {
struct StreamContext;
}

// The backend for the sound devices of the platform's shared audio engine: it lists the active
// endpoints with their engine formats, names the default endpoints and opens shared-mode,
// event-driven 32-bit float streams at the engine's rate, each served by a thread of its own.
// Every failed platform call is logged with the label of its step.
class WasapiPlugin : public Plugin
{
    Q_OBJECT
public:
    explicit WasapiPlugin(std::shared_ptr<platform::AudioSystem> system = platform::systemAudio(),
                          QObject *parent = nullptr);
    ~WasapiPlugin() override;

    QString name() const override;
    DeviceList devices() override;
    DeviceInfo::Id defaultDevice(const Direction &direction) override;
    Format preferredFormat(const DeviceInfo::Id &id, const Direction &direction) override;
    Stream *open(const QString &id, const Direction &direction, const Format &format,
                 QIODevice *device) override;
    // The platform finds an endpoint by an id it had before too, and names it as it is now.
    DeviceInfo::Id currentId(const DeviceInfo::Id &savedId) override;

private:
    bool hasEnumerator() const;
    bool appendEndpoint(platform::DeviceCollection &collection, uint32_t index, DeviceList *rows);
    bool prepareClient(const QString &id, platform::DataFlow flow, const Format &format,
                       wasapi::StreamContext *context, platform::WaveFormat *streamFormat);
    Stream *startRender(const std::shared_ptr<wasapi::StreamContext> &context, uint32_t rate,
                        const Format &format);
    Stream *startCapture(const std::shared_ptr<wasapi::StreamContext> &context, uint32_t rate,
                         const Format &format);
    void watchClose(const std::shared_ptr<wasapi::StreamContext> &context);
    static void teardown(const std::shared_ptr<wasapi::StreamContext> &context);

    const std::shared_ptr<platform::AudioSystem> system_;
    std::shared_ptr<platform::DeviceEnumerator> enumerator_;
    QMutex streamsMutex_;
    QList<std::weak_ptr<wasapi::StreamContext>> streams_;
};

} // namespace audio
