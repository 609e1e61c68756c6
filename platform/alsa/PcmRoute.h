#pragma once

#include "platform/AudioLayer.h"
#include "platform/alsa/ServerDevices.h"

#include <QString>
#include <optional>

namespace platform::alsa {

// Where the sound of an ALSA PCM ends up, as far as the settings of that sound go: a sink or
// source of the sound server (through the "pulse" or "pipewire" plugin), or a sound card.
struct PcmRoute
{
    enum Kind { Unknown, SoundServer, Card };
    Kind kind = Unknown;
    // SoundServer: the sink or source, empty for the server's default one.
    QString serverDevice;
    // Card: the card's control device, "hw:<card>".
    QString control;

    // Follows the PCM's definition in this process's ALSA configuration through plugins that
    // pass the sound on (plug, asym sides, dmix, dsnoop, softvol, route and the like) to the
    // first one that ends it.
    static PcmRoute of(const QString &pcmName, DataFlow flow);

    // SoundServer: the sink or source as the server runs it, asked afresh (of `server`, or on a
    // connection of its own). None for a card, or when the server does not answer.
    std::optional<ServerDevice> askServer(DataFlow flow) const;
    std::optional<ServerDevice> askServer(DataFlow flow, ServerDevices &server) const;
};

} // namespace platform::alsa
