// The request file the EQ converter reads, then the two texts it writes from it.
#include "ExportFormats.h"
#include "ExportRequest.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    eqexport::Request request;
    QString error;
    if (!eqexport::readRequest(
                snt::fuzz::writeFile(QStringLiteral("request.json"), snt::fuzz::bytes(data, size)),
                request, error))
        return 0;
    (void)eqexport::enabledBands(request);
    (void)eqexport::xtaText(request);
    (void)eqexport::nstText(request);
    return 0;
}
