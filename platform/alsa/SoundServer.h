#pragma once

#include "platform/AudioLayer.h"

#include <QList>
#include <QString>
#include <optional>

struct pa_context;
struct pa_mainloop;
struct pa_operation;

namespace platform::alsa {

// A sink (render) or source (capture) of the sound server.
struct ServerDevice
{
    QString name;
    QString description;
    WaveFormat format; // the sample format the server runs the device at
};

struct ServerModule
{
    uint32_t index = 0;
    QString name;
    QString argument;
};

// A short blocking connection to the sound server that ALSA's "pulse" plugin talks to
// (PulseAudio, or PipeWire's PulseAudio service), found the way that plugin finds it
// (PULSE_SERVER, else the user's runtime folder). It never starts a server. Every step waits at
// most two seconds, so a server that hangs costs a bounded wait. One thread at a time.
class SoundServer
{
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    bool connected() const { return connected_; }
    // The sink or source of the name; an empty name is the server's default one.
    std::optional<ServerDevice> device(DataFlow flow, const QString &name);
    QList<ServerModule> modules();
    bool unloadModule(uint32_t index);

private:
    bool waitUntil(const bool &done);
    bool finish(pa_operation *operation, const bool &done);

    pa_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    bool connected_ = false;
};

} // namespace platform::alsa
