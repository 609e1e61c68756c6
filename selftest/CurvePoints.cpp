#include "selftest/CurvePoints.h"

#include <QVariantMap>

#include <cmath>
#include <limits>

namespace snt::selftest {

CurvePoint nearestCurvePoint(const QVariantList &curve, double target)
{
    CurvePoint nearest;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const QVariant &entry : curve) {
        const QVariantMap point = entry.toMap();
        const double f = point.value(QStringLiteral("f")).toDouble();
        if (!(f > 0.0))
            continue;
        const double distance = std::abs(std::log(f / target));
        if (distance < bestDistance) {
            bestDistance = distance;
            nearest = {f, point.value(QStringLiteral("d")).toDouble()};
        }
    }
    return nearest;
}

double curveValueNearFrequency(const QVariantList &curve, double target)
{
    return nearestCurvePoint(curve, target).d;
}

} // namespace snt::selftest
