#include "audio/backends/Backends.h"

#include "audio/wasapi/WasapiPlugin.h"

namespace audio {

QList<Client::PluginFactory> backendFactories()
{
    return {[] {
        return std::make_shared<WasapiPlugin>();
    }};
}

} // namespace audio
