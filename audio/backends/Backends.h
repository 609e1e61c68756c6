#pragma once

#include "audio/Client.h"

#include <QList>

namespace audio {

// The sound-card backends of this build in the order the client creates them: WASAPI first,
// then ASIO. The program hands them to Client::setPluginFactories() before anything asks for
// the client.
QList<Client::PluginFactory> backendFactories();

} // namespace audio
