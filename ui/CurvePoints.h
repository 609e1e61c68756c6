#pragma once

#include <QList>
#include <QPointF>
#include <QVariantList>

namespace snt::ui {

// A curve as the chart keeps it: (frequency in Hz, value) pairs in the order they came, the value
// being dB, degrees or coherence 0..1 depending on the curve.
using PointList = QList<QPointF>;

// Reads a curve in any of the three forms the screens hand over: a flat list of numbers taken in
// pairs (recognised by a numeric first element; an odd last number is ignored), a list of maps
// {"f", "d"} (a missing key reads 0) or a list of [f, d] lists. Pairs that are not finite are
// left out; nothing is sorted or merged.
PointList parsePoints(const QVariantList &list);

// The value at frequency f of a curve with ascending frequencies, linear in frequency between
// neighbours and held at the first and last value outside them. The curve must not be empty.
double valueAt(const PointList &ascending, double f);

// Consecutive points [begin, end) of a curve: a stretch the chart draws as one piece.
struct PointRun
{
    qsizetype begin = 0;
    qsizetype end = 0;

    qsizetype size() const { return end - begin; }
    friend bool operator==(const PointRun &, const PointRun &) = default;
};

} // namespace snt::ui
