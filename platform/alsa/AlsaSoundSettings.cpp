#include "platform/alsa/AlsaSoundSettings.h"

#include "common/Log.h"
#include "platform/alsa/AlsaEndpoints.h"
#include "platform/alsa/AlsaMixer.h"
#include "platform/alsa/AlsaPcm.h"
#include "platform/alsa/PcmRoute.h"
#include "platform/alsa/SoundServer.h"

#include <QRegularExpression>

#include <pulse/volume.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace platform::alsa {
namespace {

const QString defaultPcm = QStringLiteral("default");
const QString corkModule = QStringLiteral("module-role-cork");
const QString duckingModule = QStringLiteral("module-role-ducking");

// The endpoint of the id in the direction, else the default one ("default" leads the list).
std::optional<EndpointInfo> endpointOf(const QString &id, DataFlow flow)
{
    std::optional<EndpointInfo> fallback;
    for (const EndpointInfo &e : AlsaEndpoints::list()) {
        if (e.flow != flow)
            continue;
        if (!id.isEmpty() && e.id == id)
            return e;
        if (!fallback)
            fallback = e;
    }
    return fallback;
}

// The share of its level a ducked stream keeps, from module-role-ducking's "volume" argument
// (a percentage, a dB value or a raw volume; PulseAudio's default is 20 %).
double duckedShare(const QString &argument)
{
    static const QRegularExpression volume(QStringLiteral("(?:^|\\s)volume=\"?([^\"\\s/]+)"));
    const QRegularExpressionMatch match = volume.match(argument);
    const QString value = match.hasMatch() ? match.captured(1) : QStringLiteral("20%");
    bool ok = false;
    if (value.endsWith(QLatin1Char('%'))) {
        const double percent = value.chopped(1).toDouble(&ok);
        return ok ? percent / 100.0 : 0.2;
    }
    if (value.endsWith(QLatin1String("dB"), Qt::CaseInsensitive)) {
        const double db = value.chopped(2).toDouble(&ok);
        return ok ? double(pa_sw_volume_from_dB(db)) / PA_VOLUME_NORM : 0.2;
    }
    const double raw = value.toDouble(&ok);
    return ok ? raw / PA_VOLUME_NORM : 0.2;
}

// The ducking value nearest to a stream kept at `share` of its level.
int duckingOfShare(double share)
{
    struct Anchor
    {
        double share;
        int preference;
    };
    constexpr Anchor anchors[] = {{0.0, ducking::MuteOthers},
                                  {0.2, ducking::LowerBy80},
                                  {0.5, ducking::LowerBy50},
                                  {1.0, ducking::DoNothing}};
    const Anchor *nearest = std::min_element(
            std::begin(anchors), std::end(anchors), [share](const Anchor &a, const Anchor &b) {
                return std::abs(a.share - share) < std::abs(b.share - share);
            });
    return nearest->preference;
}

bool isDuckingModule(const ServerModule &module)
{
    return module.name == corkModule || module.name == duckingModule;
}

} // namespace

QString AlsaSoundSettings::defaultEndpoint(DataFlow flow)
{
    const std::optional<EndpointInfo> endpoint = endpointOf(QString(), flow);
    return endpoint ? endpoint->id : QString();
}

// ALSA calls its default endpoints by their role; where they lead to the sound server, the
// server's own name of its default sink or source says which device that is.
QString AlsaSoundSettings::friendlyName(const QString &id, DataFlow flow)
{
    const std::optional<EndpointInfo> endpoint = endpointOf(id, flow);
    if (!endpoint)
        return QString();
    if (endpoint->pcmName == defaultPcm)
        if (const auto device = PcmRoute::of(endpoint->pcmName, flow).askServer(flow))
            return device->description;
    return endpoint->friendlyName;
}

Result AlsaSoundSettings::volumeControl(const QString &id, DataFlow flow,
                                        std::shared_ptr<VolumeControl> *control)
{
    const std::optional<EndpointInfo> endpoint = endpointOf(id, flow);
    if (!endpoint)
        return result::NotFound;
    return AlsaMixer::open(PcmRoute::of(endpoint->pcmName, flow), flow, control);
}

Result AlsaSoundSettings::deviceFormat(const QString &id, DataFlow flow, WaveFormat *format)
{
    const std::optional<EndpointInfo> endpoint = endpointOf(id, flow);
    if (!endpoint)
        return result::NotFound;
    const PcmRoute route = PcmRoute::of(endpoint->pcmName, flow);
    if (route.kind != PcmRoute::SoundServer)
        return AlsaEndpoints::engineFormat(*endpoint, format);
    const std::optional<ServerDevice> device = route.askServer(flow);
    if (!device)
        return result::ServiceNotRunning;
    *format = device->format;
    return result::Ok;
}

Result AlsaSoundSettings::setDeviceFormat(const QString &id, DataFlow, const WaveFormat &)
{
    sntDebug(lcAlsa, "[SystemCheck]")
            << "no program may set the format of" << id
            << "; the sound server's configuration or the stream decides it";
    return result::Fail;
}

// The server converts whatever it is sent to the one format it runs the device at; a card takes
// what its hardware offers.
Result AlsaSoundSettings::sharedFormatSupported(const QString &id, DataFlow flow,
                                                const WaveFormat &format)
{
    const std::optional<EndpointInfo> endpoint = endpointOf(id, flow);
    if (!endpoint)
        return result::NotFound;
    const PcmRoute route = PcmRoute::of(endpoint->pcmName, flow);
    if (route.kind != PcmRoute::SoundServer)
        return testPcmFormat(endpoint->pcmName, flow, format.samplesPerSec, format.channels);
    const std::optional<ServerDevice> device = route.askServer(flow);
    if (!device)
        return result::ServiceNotRunning;
    const bool same = device->format.samplesPerSec == format.samplesPerSec
                      && device->format.channels == format.channels;
    return same ? result::Ok : result::UnsupportedFormat;
}

int AlsaSoundSettings::duckingPreference()
{
    SoundServer server;
    if (!server.connected()) {
        sntDebug(lcAlsa, "[SystemCheck]")
                << "no sound server: nothing lowers other sounds during calls";
        return ducking::DoNothing;
    }
    int preference = ducking::DoNothing;
    for (const ServerModule &module : server.modules()) {
        if (module.name == corkModule)
            preference = std::min(preference, int(ducking::MuteOthers));
        else if (module.name == duckingModule)
            preference = std::min(preference, duckingOfShare(duckedShare(module.argument)));
    }
    return preference;
}

// Turning ducking off unloads the server's role modules; lowering sounds is never switched on.
Result AlsaSoundSettings::setDuckingPreference(int preference)
{
    if (preference != ducking::DoNothing)
        return result::InvalidArg;
    SoundServer server;
    if (!server.connected())
        return result::Ok;
    for (const ServerModule &module : server.modules())
        if (isDuckingModule(module) && !server.unloadModule(module.index))
            return result::Fail;
    return result::Ok;
}

} // namespace platform::alsa

namespace platform {

std::shared_ptr<SoundSettings> systemSoundSettings()
{
    static const auto settings = std::make_shared<alsa::AlsaSoundSettings>();
    return settings;
}

} // namespace platform
