#pragma once

#include <QRectF>

namespace snt::ui {

// Where the chart puts a frequency, a value and a coherence, in item pixels. The frequency axis is
// logarithmic from 20 Hz to 20 kHz; the value axis runs from yMin at the bottom to yMax at the top
// (yMin + 1 when yMax is not above yMin); the coherence band is 22 % of the plot high.
struct ChartMapping
{
    double width = 0; // item size
    double height = 0;
    double left = 0; // effective paddings
    double right = 0;
    double top = 0;
    double bottom = 0;
    double yMin = 0;
    double yMax = 0;
    bool phaseMode = false;
    bool coherenceBottom = false;

    double plotWidth() const { return width - left - right; }
    double plotHeight() const { return height - top - bottom; }
    double rightEdge() const { return width - right; }
    double bottomEdge() const { return height - bottom; }
    QRectF plotRect() const { return QRectF(left, top, plotWidth(), plotHeight()); }
    double topValue() const { return yMax > yMin ? yMax : yMin + 1; }

    // Not clamped: frequencies outside 20 Hz..20 kHz land outside the plot; f <= 0 sits on the
    // left axis.
    double xForFrequency(double f) const;
    // Unclamped value mapping.
    double yForDb(double value) const;
    // The mapping curves and fills use: phases wrapped into [-180, 180] first, then the value held
    // within the axis, so what lies beyond it runs along the plot edge.
    double yForPhase(double value) const;
    double yForCoherence(double coherence) const;

    friend bool operator==(const ChartMapping &, const ChartMapping &) = default;
};

} // namespace snt::ui
