// mDNS datagrams as the browser receives them (records of kind 0), with the browser ageing what
// it holds in between (kind 1); each record's step advances its clock (in ms). Every message read
// is also written out again, as the browser writes the names it asks about.
#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/MdnsBrowser.h"
#include "tests/fuzz/FuzzSupport.h"

#include <limits>

using namespace audio::aes67;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MdnsBrowser *browser = MdnsBrowser::instance();
    qint64 now = 0;
    snt::fuzz::Records records(snt::fuzz::bytes(data, size));
    for (snt::fuzz::Records::Record record; records.next(record);) {
        now += record.step;
        if (record.kind % 2) {
            browser->expire(now);
            continue;
        }
        dns::Message message;
        if (!dns::parse(record.bytes, message))
            continue;
        (void)dns::write(message);
        if (message.response)
            browser->handleMessage(message, now);
    }
    (void)browser->devices();
    browser->expire(std::numeric_limits<qint64>::max() / 2); // the next input starts empty
    return 0;
}
