#pragma once

#include "platform/alsa/SoundServer.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>
#include <optional>

namespace platform::alsa {

// The server's sinks and sources as one look at the devices asks for them: one connection, made
// at the first question, and each sink or source asked once, so that a listing waits for a server
// that does not answer once, not once per device. Safe to share between threads.
class ServerDevices
{
public:
    // The sink or source of the name; an empty name is the server's default one.
    std::optional<ServerDevice> device(DataFlow flow, const QString &name);

private:
    QMutex mutex_;
    std::unique_ptr<SoundServer> server_;
    QHash<QString, std::optional<ServerDevice>> answers_;
};

} // namespace platform::alsa
