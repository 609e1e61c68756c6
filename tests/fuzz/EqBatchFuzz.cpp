// The headless EQ batch's input file: each curve of it written as the curve text the batch hands
// the bridge, and that text imported as the bridge imports it.
#include "app/store/CurveTextImport.h"
#include "startup/EqBatch.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonArray curves = QJsonDocument::fromJson(snt::fuzz::bytes(data, size))
                                      .object()
                                      .value("curves")
                                      .toArray();
    for (const QJsonValue &curve : curves) {
        const QString path = snt::fuzz::writeFile(QStringLiteral("batch-curve.txt"),
                                                  snt::startup::batchCurveText(curve.toObject()));
        ImportedCurve imported;
        importCurveText(path, imported);
    }
    return 0;
}
