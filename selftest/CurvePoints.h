#pragma once

#include <QVariantList>

namespace snt::selftest {

struct CurvePoint
{
    double f = 0.0;
    double d = 0.0;
};

// The point of a curve point list of {"f", "d"} maps nearest to `target` on a log-frequency
// axis (the least |ln(f / target)|; points at or below 0 Hz are skipped; of equally near points
// the first); (0, 0) when no point qualifies. A missing key reads 0.
CurvePoint nearestCurvePoint(const QVariantList &curve, double target);

// The value "d" of that point; 0 when none qualifies.
double curveValueNearFrequency(const QVariantList &curve, double target);

} // namespace snt::selftest
