// SDP text as announced by other senders: read it, and write a description of the stream it
// names the way the own sender would.
#include "audio/aes67/Sdp.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace audio::aes67;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Aes67StreamInfo info = parseSdp(QString::fromUtf8(snt::fuzz::bytes(data, size)));
    Aes67StreamInfo copy;
    assignSdpFields(copy, info);
    StreamDescription description;
    description.sessionName = info.sessionName;
    description.destinationAddress = info.connectionAddress;
    description.port = info.port;
    description.channels = info.channels;
    description.sampleRate = info.sampleRate;
    description.payloadType = quint8(info.payloadType);
    (void)parseSdp(buildSdp(description));
    return 0;
}
