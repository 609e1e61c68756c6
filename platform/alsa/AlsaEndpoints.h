#pragma once

#include "platform/AudioLayer.h"
#include "platform/alsa/ServerDevices.h"

#include <QList>
#include <QString>
#include <optional>

namespace platform::alsa {

// One side (render or capture) of an ALSA PCM, as the audio layer presents it.
struct EndpointInfo
{
    QString id;
    QString pcmName;
    DataFlow flow = DataFlow::Render;
    QString friendlyName;
};

// The endpoints ALSA offers, found without opening any PCM:
// - "default" in both directions (whatever the system routes it to: a sound server or a card);
// - every hardware PCM device of every card, per direction it has, read from the control
//   interface ("hw:CARD=<card id>,DEV=<n>", so the id survives a change of card order);
// - every PCM that the user (~/.asoundrc, $XDG_CONFIG_HOME/alsa/asoundrc) or the administrator
//   (/etc/asound.conf) declares with a hint description, in both directions, or, for an "asym"
//   PCM, in the directions it defines. Its name is the hint description. Declarations made
//   after ALSA read its configuration in this process are left out until the next start.
// Both sides of a PCM have one id, "alsa:<pcm>", as a duplex card is one device; PCM names
// holding "/" are left out, so an id can serve as a settings group name.
class AlsaEndpoints
{
public:
    static QList<EndpointInfo> list();
    // The endpoint of the id on the side `flow` (any side for DataFlow::All). An id of an
    // earlier version, which named the side ("alsa:capture:<pcm>"), finds that side.
    static std::optional<EndpointInfo> find(const QString &id, DataFlow flow);

    // The engine format of an endpoint: probed once and remembered, and never probed while a
    // stream of this program holds the endpoint (the remembered format answers then). An
    // endpoint that leads to the sound server has the channels the server runs its sink or
    // source at as it answers now: the server's default source can change while the program
    // runs, and "default" then leads to another source.
    // `server` answers for the sound server, so that the endpoints of one listing share it.
    static Result engineFormat(const EndpointInfo &endpoint, ServerDevices &server,
                               WaveFormat *format);
    static Result engineFormat(const EndpointInfo &endpoint, WaveFormat *format);
    // Streams announce when they hold and release a PCM, so listing never opens it meanwhile.
    static void setHeld(const EndpointInfo &endpoint, bool held);
};

} // namespace platform::alsa
