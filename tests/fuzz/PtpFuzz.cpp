// PTP messages as the slave clock receives them: records of kind 0 arrive on the event port,
// kind 1 on the general port, kind 2 let the clock age its masters, kind 3 have it send a delay
// request; each record's step advances the local monotonic clock (in ns).
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/Sdp.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace audio::aes67;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PtpClock *clock = PtpClock::instance();
    clock->stop(); // every input starts from a clock that has heard nothing
    qint64 now = 86'400'000'000'000; // a day of uptime
    snt::fuzz::Records records(snt::fuzz::bytes(data, size));
    for (snt::fuzz::Records::Record record; records.next(record);) {
        now += record.step;
        switch (record.kind % 4) {
        case 0:
            clock->processEventDatagram(record.bytes, now);
            break;
        case 1:
            clock->processGeneralDatagram(record.bytes, now);
            break;
        case 2:
            clock->expireMasters(now);
            break;
        default:
            ptp::Message request;
            ptp::parseMessage(clock->nextDelayRequest(now), request);
            break;
        }
        (void)clock->masterTimeNs(now);
        StreamDescription description;
        clock->fillStreamClock(description);
        (void)buildSdp(description);
    }
    return 0;
}
