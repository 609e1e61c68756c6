#include "processor/EqThumbnail.h"

#include <QVariantMap>

#include <algorithm>
#include <array>
#include <cmath>

namespace processor {

namespace {

constexpr int points = 48;
constexpr double leastSpanDb = 6.0;
constexpr double narrowestWidth = 0.3;

} // namespace

QVariantList demoEqCurve(const QVariantList &bands)
{
    std::array<double, points> values{};
    for (int i = 0; i < points; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / double(points - 1));
        for (const QVariant &entry : bands) {
            const QVariantMap band = entry.toMap();
            if (!band.value(QStringLiteral("enabled")).toBool())
                continue;
            const double q = band.value(QStringLiteral("q")).toDouble();
            const double oct = std::log2(f / band.value(QStringLiteral("freq")).toDouble());
            const double w = 1.0 / std::max(narrowestWidth, q != 0.0 && !std::isnan(q) ? q : 1.0);
            values[i] += band.value(QStringLiteral("gain")).toDouble()
                         * std::exp(-oct * oct / (2.0 * w * w));
        }
    }
    const auto [lowest, highest] = std::minmax_element(values.cbegin(), values.cend());
    const double min = *lowest;
    const double span = std::max(leastSpanDb, *highest - min);
    QVariantList curve;
    for (const double value : values)
        curve.append(std::clamp((value - min + 1.0) / (span + 2.0), 0.0, 1.0));
    return curve;
}

} // namespace processor
