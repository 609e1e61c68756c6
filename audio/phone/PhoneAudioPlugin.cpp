#include "audio/phone/PhoneAudioPlugin.h"

#include "audio/phone/AudioStreamServer.h"
#include "audio/phone/PhoneInputStream.h"
#include "common/Log.h"

#include <QIODevice>

namespace audio {
namespace {

const char *const tag = "[PhoneAudio]";
constexpr uint32_t unknownRate = 48000;

[[maybe_unused]] const int registered = qRegisterMetaType<PhoneAudioPlugin *>();

} // namespace

PhoneAudioPlugin::PhoneAudioPlugin(AudioStreamServer *server, QObject *parent)
    : Plugin(parent)
    , server_(server ? server : AudioStreamServer::instance())
{
    connect(server_, &AudioStreamServer::clientConnected, this, &Plugin::deviceListChanged);
    connect(server_, &AudioStreamServer::clientDisconnected, this, &Plugin::deviceListChanged);
}

QString PhoneAudioPlugin::name() const
{
    return QStringLiteral("Phone");
}

DeviceList PhoneAudioPlugin::devices()
{
    DeviceList rows;
    for (const PhoneClientInfo &phone : server_->clients())
        rows.append({phone.id, phone.name, phone.sampleRate, name(), {"1"}, {}});
    return rows;
}

DeviceInfo::Id PhoneAudioPlugin::defaultDevice(const Direction &)
{
    return {};
}

Format PhoneAudioPlugin::preferredFormat(const DeviceInfo::Id &id, const Direction &direction)
{
    if (direction == Input && server_->hasClient(id))
        return {server_->sampleRate(id), 1};
    return {unknownRate, 1};
}

Stream *PhoneAudioPlugin::open(const QString &id, const Direction &direction, const Format &,
                               QIODevice *device)
{
    if (direction != Input || !device)
        return nullptr;
    if (!server_->hasClient(id)) {
        sntWarning(lcPhone, tag) << "open failed, phone not connected:" << id;
        return nullptr;
    }
    if (!device->isOpen())
        device->open(QIODevice::WriteOnly);
    const Format format{server_->sampleRate(id), 1};
    sntInfo(lcPhone, tag) << "input stream opened for" << id.left(8) + "..." << format.sampleRate
                          << "Hz mono";
    return new PhoneInputStream(format, id, device, server_);
}

} // namespace audio
