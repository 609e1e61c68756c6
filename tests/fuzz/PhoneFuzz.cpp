// A phone's messages as the phone-audio server takes them: records of kind 0 are text messages
// (the hello that opens a session), kind 1 binary audio frames stored into the session's ring,
// and kinds 2 to 4 are the measurement's and the input stream's reads of that ring, with their
// parameters taken from the record's bytes.
#include "audio/phone/PhoneMessages.h"
#include "audio/phone/PhoneSampleRing.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QtEndian>
#include <vector>

using namespace audio;

namespace {

constexpr int ringSeconds = 10;

template<typename T>
T field(const QByteArray &bytes, int offset)
{
    const QByteArray part = bytes.mid(offset, int(sizeof(T))).leftJustified(sizeof(T), '\0');
    return qFromLittleEndian<T>(part.constData());
}

void store(PhoneSampleRing &ring, const PhoneFrame &frame)
{
    std::vector<float> samples(frame.sampleCount);
    for (quint32 i = 0; i < frame.sampleCount; ++i)
        samples[i] = phoneSample(frame, i);
    ring.append(samples.data(), frame.sampleCount, frame.sampleIndex);
}

void readByIndex(const PhoneSampleRing &ring, const QByteArray &bytes)
{
    const auto start = field<quint64>(bytes, 0);
    const auto count = field<qint64>(bytes, 8);
    if (ring.read(start, count, nullptr) != PhoneSampleRing::Copied)
        return;
    std::vector<float> out(static_cast<size_t>(count));
    ring.read(start, count, out.data());
}

void readAsStream(PhoneSampleRing &ring, const QByteArray &bytes)
{
    const qint64 maxOut = field<quint16>(bytes, 0);
    double phase = field<double>(bytes, 2);
    std::vector<float> out(static_cast<size_t>(maxOut));
    ring.readResampled(out.data(), maxOut, field<double>(bytes, 10), &phase);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PhoneSampleRing ring;
    bool session = false;
    snt::fuzz::Records records(snt::fuzz::bytes(data, size));
    for (snt::fuzz::Records::Record record; records.next(record);) {
        switch (record.kind % 5) {
        case 0: {
            PhoneHello hello;
            if (!session && parsePhoneHello(QString::fromUtf8(record.bytes), hello)) {
                ring.setCapacity(qint64(hello.sampleRate) * ringSeconds);
                session = true;
            }
            break;
        }
        case 1: {
            PhoneFrame frame;
            if (session && parsePhoneFrame(record.bytes, frame) == PhoneFrameCheck::Ok)
                store(ring, frame);
            break;
        }
        case 2:
            readByIndex(ring, record.bytes);
            break;
        case 3:
            readAsStream(ring, record.bytes);
            break;
        default:
            ring.consume(field<qint64>(record.bytes, 0));
            break;
        }
    }
    return 0;
}
