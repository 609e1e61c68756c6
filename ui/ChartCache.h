#pragma once

#include "ui/ChartMapping.h"
#include "ui/CoverageRaster.h"

#include <QColor>
#include <QImage>
#include <QTransform>

namespace snt::ui {

// Everything the grid, the axes and the labels are drawn from: while it stays the same, so do
// their pictures.
struct ChartLayerKey
{
    ChartMapping map;
    QTransform device; // item to device pixels
    double padLeft = 0; // the labels stand against the configured paddings
    double padBottom = 0;
    double phaseCenter = 0;
    double xLabelGap = 0;
    int labelSize = 0;
    bool showGrid = false;
    bool showLabels = false;
    bool compact = false;
    bool showXLabels = false;
    QColor gridColor;
    QColor axisColor;
    QColor labelColor;

    friend bool operator==(const ChartLayerKey &, const ChartLayerKey &) = default;
};

// What a chart keeps from one paint to the next to paint quickly: the grid with its axes and the
// labels as last drawn, in device pixels, so that a paint whose curves changed but not its axes
// only lays the two pictures in place instead of stroking some forty lines and setting some thirty
// texts again; and the raster its curves are drawn with.
struct ChartCache
{
    ChartLayerKey key;
    QImage grid;
    QImage labels;
    CoverageRaster raster;
};

} // namespace snt::ui
