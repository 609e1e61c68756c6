#pragma once

#include <QVariantList>
#include <QVariantMap>

class SubwooferCrossover;

// What the subwoofer screens draw and read of a crossover design: curves on the standard grid
// as lists of [Hz, dB] pairs (only grid points up to 20.5 kHz; an empty list when the design's
// curve does not cover the grid), the EQ bands, and a summary of the design and its reference.
namespace subwoofer {

// The main curve relative to its mid band, the subwoofer as measured, the subwoofer after its
// corners, gain and EQ, and the two summed in phase. Points below −30 dB or not finite are
// left out.
QVariantList beforeCurve(const SubwooferCrossover &crossover);
QVariantList rawCurve(const SubwooferCrossover &crossover);
QVariantList processedCurve(const SubwooferCrossover &crossover);
QVariantList summedCurve(const SubwooferCrossover &crossover);
// The lift target, every point kept; before a design, the target of the current lift setting.
QVariantList targetCurve(const SubwooferCrossover &crossover);
// One map {"freq", "q", "gain", "enabled"} per EQ band, in order.
QVariantList eqBands(const SubwooferCrossover &crossover);
// The design's figures under the screens' names ("lowFc", "lpKind", "gainDb", ...), the main
// reference ("mainPack", "mainName", "mainProject", "mainLoaded") and "eq", one map
// {"fc", "gain", "q"} per band, switched off or not.
QVariantMap info(const SubwooferCrossover &crossover);

} // namespace subwoofer
