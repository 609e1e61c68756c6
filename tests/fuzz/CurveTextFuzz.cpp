// A measured curve as a text file an engineer loads instead of measuring.
#include "app/store/CurveTextImport.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImportedCurve curve;
    importCurveText(snt::fuzz::writeFile(QStringLiteral("curve.txt"), snt::fuzz::bytes(data, size)),
                    curve);
    return 0;
}
