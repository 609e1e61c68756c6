// A calibration file as a microphone's maker supplies it: parsed, then read as the measurement
// reads it, at points of its own range and on a bin grid.
#include "engine/dsp/CalCurve.h"
#include "engine/dsp/CalFileParser.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path
            = snt::fuzz::writeFile(QStringLiteral("calibration.txt"), snt::fuzz::bytes(data, size));
    const CalFileParser::Result result = CalFileParser::parse(path);
    if (!result.ok)
        return 0;
    CalCurve curve;
    curve.setPoints(result.points);
    for (const CalFileParser::Point &point : result.points)
        (void)curve.gainDbAt(point.first * 1.5f);
    QList<float> bins;
    for (int bin = 0; bin < 512; ++bin)
        bins.append(float(bin) * 48000.0f / 1024.0f);
    curve.buildLut(bins);
    (void)curve.gainForBin(100);
    return 0;
}
