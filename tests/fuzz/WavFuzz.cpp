// A WAV file chosen as the music test signal.
#include "engine/tf/generator/WavFile.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    WavFile wav;
    readWavFile(snt::fuzz::writeFile(QStringLiteral("signal.wav"), snt::fuzz::bytes(data, size)),
                wav);
    return 0;
}
