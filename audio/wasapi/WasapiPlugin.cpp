#include "audio/wasapi/WasapiPlugin.h"

#include "audio/Stream.h"
#include "audio/wasapi/WasapiResultCheck.h"
#include "audio/wasapi/WasapiStreamThread.h"
#include "common/Log.h"
#include "platform/Event.h"

#include <QIODevice>
#include <QMutexLocker>
#include <algorithm>

namespace audio {
namespace {

using platform::DataFlow;
using wasapi::check;
using wasapi::StreamContext;

const QString pluginNameText = QStringLiteral("WASAPI");
constexpr uint32_t unknownRate = 48000;
constexpr uint16_t maxRenderChannels = 2;
constexpr int bufferPeriods = 10;

QString label(const char *text, int number)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(text)).arg(number);
}

void logNoEnumerator()
{
    sntCritical("no enumerator");
}

QStringList channelNames(uint16_t count)
{
    QStringList names;
    for (uint16_t i = 1; i <= count; ++i)
        names.append(QString::number(i));
    return names;
}

QStringList &channelsOf(DeviceInfo &row, DataFlow flow)
{
    return flow == DataFlow::Capture ? row.inputChannels : row.outputChannels;
}

DataFlow flowOf(Plugin::Direction direction)
{
    return direction == Plugin::Input ? DataFlow::Capture : DataFlow::Render;
}

// The engine's mix format turned into the stream's: the engine rate, the requested channels,
// 32-bit float. A plain format becomes plain float; an extensible one stays extensible.
platform::WaveFormat streamFormatFrom(const platform::WaveFormat &mix, uint32_t channels)
{
    platform::WaveFormat f = mix;
    f.channels = uint16_t(channels);
    f.bitsPerSample = 32;
    f.blockAlign = uint16_t(channels * 4);
    f.avgBytesPerSec = channels * mix.samplesPerSec * 4;
    if (f.formatTag == platform::WaveFormat::Extensible) {
        f.validBitsPerSample = 32;
        f.channelMask = channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1u;
        f.subFormat = platform::WaveFormat::SubFormat::IeeeFloat;
    } else {
        f.formatTag = platform::WaveFormat::IeeeFloat;
        f.extraSize = 0;
    }
    return f;
}

} // namespace

WasapiPlugin::WasapiPlugin(std::shared_ptr<platform::AudioSystem> system, QObject *parent)
    : Plugin(parent)
    , system_(std::move(system))
{
    std::shared_ptr<platform::DeviceEnumerator> enumerator;
    if (system_
        && check(system_->createDeviceEnumerator(&enumerator), QStringLiteral("CoCreateInstance")))
        enumerator_ = std::move(enumerator);
}

WasapiPlugin::~WasapiPlugin()
{
    QList<std::weak_ptr<StreamContext>> streams;
    {
        QMutexLocker lock(&streamsMutex_);
        streams.swap(streams_);
    }
    for (const auto &weak : streams)
        if (const auto context = weak.lock())
            teardown(context);
}

QString WasapiPlugin::name() const
{
    return pluginNameText;
}

bool WasapiPlugin::hasEnumerator() const
{
    if (!enumerator_)
        logNoEnumerator();
    return enumerator_ != nullptr;
}

DeviceList WasapiPlugin::devices()
{
    DeviceList rows;
    if (!hasEnumerator())
        return rows;
    std::shared_ptr<platform::DeviceCollection> collection;
    if (!check(enumerator_->enumAudioEndpoints(DataFlow::All, platform::deviceStateActive,
                                               &collection),
               label("EnumAudioEndpoints", 64)))
        return rows;
    uint32_t count = 0;
    if (!check(collection->count(&count), label("GetCount", 66)))
        return rows;
    for (uint32_t i = 0; i < count; ++i)
        if (!appendEndpoint(*collection, i, &rows))
            break;
    return rows;
}

bool WasapiPlugin::appendEndpoint(platform::DeviceCollection &collection, uint32_t index,
                                  DeviceList *rows)
{
    std::shared_ptr<platform::Device> device;
    if (!check(collection.item(index, &device), label("GetDevice", 79)))
        return false;
    QString id;
    if (!check(device->id(&id), label("GetId", 80)))
        return false;
    std::shared_ptr<platform::Endpoint> endpoint;
    if (!check(device->endpoint(&endpoint), label("IMMEndpoint", 82)))
        return false;
    DataFlow flow = DataFlow::Render;
    if (!check(endpoint->dataFlow(&flow), label("GetDataFlow", 83)))
        return false;

    DeviceInfo row{id, QString(), unknownRate, pluginNameText, {}, {}};
    // The two sides of a device that plays and records share its id and make one row; a side
    // listed again is skipped.
    const auto listed = std::find_if(rows->begin(), rows->end(), [&row](const DeviceInfo &r) {
        return r.id == row.id && r.pluginName == row.pluginName;
    });
    if (listed != rows->end() && !channelsOf(*listed, flow).isEmpty())
        return true;

    std::shared_ptr<platform::PropertyStore> store;
    if (!check(device->openPropertyStore(&store), label("OpenPropertyStore", 93)))
        return false;
    platform::PropertyValue name;
    if (!check(store->value(platform::PropertyKey::FriendlyName, &name),
               label("PKEY_Device_FriendlyName", 101)))
        return false;
    if (const auto *text = std::get_if<QString>(&name))
        row.name = *text;
    platform::PropertyValue format;
    if (!check(store->value(platform::PropertyKey::EngineDeviceFormat, &format),
               label("PKEY_AudioEngine_DeviceFormat", 104)))
        return false;
    uint16_t channels = 0;
    if (const auto *wave = std::get_if<platform::WaveFormat>(&format)) {
        row.sampleRate = wave->samplesPerSec;
        channels = wave->channels;
    }
    if (flow == DataFlow::Render)
        channels = std::min(channels, maxRenderChannels);
    if (listed != rows->end()) {
        channelsOf(*listed, flow) = channelNames(channels);
        return true;
    }
    channelsOf(row, flow) = channelNames(channels);
    rows->append(row);
    return true;
}

DeviceInfo::Id WasapiPlugin::defaultDevice(const Direction &direction)
{
    if (!hasEnumerator() || !isValidDirection(direction))
        return DeviceInfo::Id();
    std::shared_ptr<platform::Device> device;
    if (!check(enumerator_->defaultAudioEndpoint(flowOf(direction), platform::Role::Multimedia,
                                                 &device),
               label("GetDefaultAudioEndpoint", 153)))
        return DeviceInfo::Id();
    QString id;
    if (!check(device->id(&id), label("GetId", 155)))
        return DeviceInfo::Id();
    return id;
}

Format WasapiPlugin::preferredFormat(const DeviceInfo::Id &id, const Direction &direction)
{
    for (const DeviceInfo &row : devices()) {
        if (row.id == id) {
            const QStringList &channels
                    = direction == Output ? row.outputChannels : row.inputChannels;
            return Format{row.sampleRate, uint32_t(channels.size())};
        }
    }
    return Format{};
}

DeviceInfo::Id WasapiPlugin::currentId(const DeviceInfo::Id &savedId)
{
    std::shared_ptr<platform::Device> device;
    QString id;
    if (!enumerator_ || !platform::succeeded(enumerator_->device(savedId, DataFlow::All, &device))
        || !platform::succeeded(device->id(&id)))
        return DeviceInfo::Id();
    return id;
}

bool WasapiPlugin::prepareClient(const QString &id, DataFlow flow, const Format &format,
                                 StreamContext *c, platform::WaveFormat *streamFormat)
{
    std::shared_ptr<platform::Device> device;
    if (!check(enumerator_->device(id, flow, &device), label("GetDevice", 202)))
        return false;
    if (!check(device->activateAudioClient(&c->audioClient), label("Activate IAudioClient", 205)))
        return false;
    platform::WaveFormat mix;
    if (!check(c->audioClient->mixFormat(&mix), label("GetMixFormat", 209)))
        return false;
    *streamFormat = streamFormatFrom(mix, format.channelCount);
    platform::RefTime defaultPeriod = 0;
    platform::RefTime minimumPeriod = 0;
    if (!check(c->audioClient->devicePeriod(&defaultPeriod, &minimumPeriod),
               label("GetDevicePeriod", 235)))
        return false;
    const uint32_t flags
            = platform::streamflags::EventCallback | platform::streamflags::AutoConvertPcm;
    if (!check(c->audioClient->initialize(platform::ShareMode::Shared, flags,
                                          bufferPeriods * defaultPeriod, 0, *streamFormat),
               label("Initialize audio client", 241)))
        return false;
    if (!check(c->audioClient->setEventHandle(c->event), label("SetEventHandle", 243)))
        return false;
    if (!check(c->audioClient->bufferSize(&c->bufferFrames), label("GetBufferSize", 245)))
        return false;
    c->frameBytes = streamFormat->blockAlign;
    c->sampleRate = streamFormat->samplesPerSec;
    return true;
}

Stream *WasapiPlugin::open(const QString &id, const Direction &direction, const Format &format,
                           QIODevice *device)
{
    if (!enumerator_) {
        logNoEnumerator();
        return nullptr;
    }
    auto context = std::make_shared<StreamContext>();
    context->event = system_->createEvent();
    if (!context->event) {
        sntCritical("can't start stream without event handle");
        return nullptr;
    }
    context->device = device;
    platform::WaveFormat streamFormat;
    // Any other direction fails once the client is prepared, as no stream can be made of it.
    const DataFlow flow = isValidDirection(direction) ? flowOf(direction) : DataFlow::All;
    if (!prepareClient(id, flow, format, context.get(), &streamFormat))
        return nullptr;
    if (direction == Output)
        return startRender(context, streamFormat.samplesPerSec, format);
    if (direction == Input)
        return startCapture(context, streamFormat.samplesPerSec, format);
    return nullptr;
}

Stream *WasapiPlugin::startRender(const std::shared_ptr<StreamContext> &context, uint32_t rate,
                                  const Format &format)
{
    if (!check(context->audioClient->renderClient(&context->renderClient),
               label("GetService IAudioRenderClient", 254)))
        return nullptr;
    if (!check(context->audioClient->start(), label("start client", 256)))
        return nullptr;
    context->device->open(QIODevice::ReadOnly);
    context->stream = new Stream(Format{rate, format.channelCount});
    context->thread = new wasapi::StreamThread(context);
    context->thread->setObjectName(QStringLiteral("wasapi-render"));
    context->thread->start();
    watchClose(context);
    return context->stream;
}

Stream *WasapiPlugin::startCapture(const std::shared_ptr<StreamContext> &context, uint32_t rate,
                                   const Format &format)
{
    if (!check(context->audioClient->captureClient(&context->captureClient),
               label("GetService IAudioCaptureClient", 302)))
        return nullptr;
    if (!check(context->audioClient->start(), label("start client", 304)))
        return nullptr;
    context->device->open(QIODevice::WriteOnly);
    context->stream = new Stream(Format{rate, format.channelCount});
    context->thread = new wasapi::StreamThread(context);
    context->thread->setObjectName(QStringLiteral("wasapi-capture"));
    watchClose(context);
    context->thread->start();
    return context->stream;
}

void WasapiPlugin::watchClose(const std::shared_ptr<StreamContext> &context)
{
    {
        // Streams already closed drop out here; the destructor closes those still open.
        QMutexLocker lock(&streamsMutex_);
        streams_.removeIf([](const std::weak_ptr<StreamContext> &s) { return s.expired(); });
        streams_.append(context);
    }
    // The teardown runs in the thread that calls close(). The connection keeps the context alive
    // until the stream object is deleted.
    connect(
            context->stream, &Stream::closeMe, context->stream, [context] { teardown(context); },
            Qt::DirectConnection);
}

void WasapiPlugin::teardown(const std::shared_ptr<StreamContext> &context)
{
    if (context->tornDown.exchange(true))
        return;
    // The thread leaves before the device closes: it may be inside the device's read or write.
    context->keepRunning.store(false);
    context->event->set();
    context->thread->wait();
    delete context->thread;
    context->thread = nullptr;
    context->device->close();
    context->renderClient.reset();
    context->captureClient.reset();
    context->audioClient.reset();
    context->event.reset();
    context->stream->deleteLater();
}

} // namespace audio
