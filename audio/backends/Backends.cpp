#include "audio/backends/Backends.h"

#include "audio/asio/ASIOPlugin.h"
#include "audio/wasapi/WasapiPlugin.h"

namespace audio {

QList<Client::PluginFactory> backendFactories()
{
    return {[] { return std::make_shared<WasapiPlugin>(); },
            [] {
                return std::make_shared<ASIOPlugin>();
            }};
}

} // namespace audio
