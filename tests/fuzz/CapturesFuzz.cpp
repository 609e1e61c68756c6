// A binary capture file that a pack names, read as a ".raw" capture (first and second) and as a
// ".points" file of per-point curves.
#include "app/store/CaptureFiles.h"
#include "files/DataFolder.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = snt::fuzz::bytes(data, size);
    snt::fuzz::writeFile(rawDir() + QStringLiteral("/capture.raw"), input);
    snt::fuzz::writeFile(rawDir() + QStringLiteral("/capture.raw.points"), input);
    CurvePack pack;
    pack.rawFile = pack.rawFile2 = QStringLiteral("capture.raw");
    pack.pointsFile = QStringLiteral("capture.raw.points");
    pack.pointCount = 1;
    readRawFile(pack);
    readPointsFile(pack);
    return 0;
}
