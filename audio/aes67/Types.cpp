#include "audio/aes67/Types.h"

namespace audio::aes67 {

void registerMetaTypes()
{
    qRegisterMetaType<Aes67StreamInfo>();
    qRegisterMetaType<RouteSubscription>();
    qRegisterMetaType<MdnsDevice>();
    qRegisterMetaType<rtsp::Response>();
}

} // namespace audio::aes67
