// SAP datagrams as the listener receives them (records of kind 0), with the listener ageing its
// streams in between (kind 1); each record's step advances the wall clock (in ms).
#include "audio/aes67/SapListener.h"
#include "audio/aes67/SapPacket.h"
#include "tests/fuzz/FuzzSupport.h"

#include <limits>

using namespace audio::aes67;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SapListener *listener = SapListener::instance();
    qint64 now = 1'700'000'000'000;
    snt::fuzz::Records records(snt::fuzz::bytes(data, size));
    for (snt::fuzz::Records::Record record; records.next(record);) {
        now += record.step;
        if (record.kind % 2) {
            listener->expire(now);
            continue;
        }
        const SapPacket packet = parseSapPacket(record.bytes);
        if (packet.valid)
            listener->handlePacket(packet, now);
    }
    (void)listener->streams();
    listener->expire(std::numeric_limits<qint64>::max() / 2); // the next input starts empty
    return 0;
}
