#include "platform/alsa/PcmRoute.h"

#include <alsa/asoundlib.h>

namespace platform::alsa {
namespace {

// Definitions that lead to each other in a circle end here.
constexpr int maxDepth = 8;

// "hw:0,0", "hw:CARD=x,DEV=0", "plughw:1": the card's control device.
QString controlOfHardwareName(const QString &name)
{
    return QStringLiteral("hw:")
           + name.section(QLatin1Char(':'), 1).section(QLatin1Char(','), 0, 0);
}

bool isHardwareName(const QString &name)
{
    return name.startsWith(QLatin1String("hw:")) || name.startsWith(QLatin1String("plughw:"));
}

// A string or integer field, as text; empty when absent.
QString field(snd_config_t *node, const char *key)
{
    snd_config_t *leaf = nullptr;
    if (snd_config_search(node, key, &leaf) < 0)
        return QString();
    const char *text = nullptr;
    if (snd_config_get_type(leaf) == SND_CONFIG_TYPE_STRING
        && snd_config_get_string(leaf, &text) >= 0)
        return QString::fromLocal8Bit(text);
    long number = 0;
    return snd_config_get_integer(leaf, &number) >= 0 ? QString::number(number) : QString();
}

PcmRoute followName(snd_config_t *top, const QString &name, DataFlow flow, int depth);

PcmRoute followDefinition(snd_config_t *top, snd_config_t *pcm, DataFlow flow, int depth)
{
    const QString type = field(pcm, "type");
    if (type == QLatin1String("pulse"))
        return PcmRoute{PcmRoute::SoundServer, field(pcm, "device"), QString()};
    // PipeWire names its nodes apart from the sinks its PulseAudio service shows: the default.
    if (type == QLatin1String("pipewire"))
        return PcmRoute{PcmRoute::SoundServer, QString(), QString()};
    if (type == QLatin1String("hw")) {
        const QString card = field(pcm, "card");
        return PcmRoute{PcmRoute::Card, QString(),
                        QStringLiteral("hw:") + (card.isEmpty() ? QStringLiteral("0") : card)};
    }
    snd_config_t *next = nullptr;
    const char *side = flow == DataFlow::Capture ? "capture.pcm" : "playback.pcm";
    const bool passesOn = type == QLatin1String("asym")
                                  ? snd_config_search(pcm, side, &next) >= 0
                                  : snd_config_search(pcm, "slave.pcm", &next) >= 0;
    if (!passesOn || depth >= maxDepth)
        return PcmRoute();
    if (snd_config_get_type(next) == SND_CONFIG_TYPE_COMPOUND)
        return followDefinition(top, next, flow, depth + 1);
    const char *nextName = nullptr;
    if (snd_config_get_string(next, &nextName) < 0)
        return PcmRoute();
    return followName(top, QString::fromLocal8Bit(nextName), flow, depth + 1);
}

PcmRoute followName(snd_config_t *top, const QString &name, DataFlow flow, int depth)
{
    if (isHardwareName(name))
        return PcmRoute{PcmRoute::Card, QString(), controlOfHardwareName(name)};
    snd_config_t *definition = nullptr;
    const QByteArray key = name.toLocal8Bit();
    if (snd_config_search_definition(top, "pcm", key.constData(), &definition) < 0)
        return PcmRoute();
    const PcmRoute route = followDefinition(top, definition, flow, depth);
    snd_config_delete(definition);
    return route;
}

} // namespace

PcmRoute PcmRoute::of(const QString &pcmName, DataFlow flow)
{
    snd_config_t *top = nullptr;
    if (snd_config_update_ref(&top) < 0)
        return PcmRoute();
    const PcmRoute route = followName(top, pcmName, flow, 0);
    snd_config_unref(top);
    return route;
}

std::optional<ServerDevice> PcmRoute::askServer(DataFlow flow) const
{
    ServerDevices server;
    return askServer(flow, server);
}

std::optional<ServerDevice> PcmRoute::askServer(DataFlow flow, ServerDevices &server) const
{
    if (kind != SoundServer)
        return std::nullopt;
    return server.device(flow, serverDevice);
}

} // namespace platform::alsa
