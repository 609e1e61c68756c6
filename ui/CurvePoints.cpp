#include "ui/CurvePoints.h"

#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace snt::ui {

namespace {

bool isNumber(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

void appendFinite(PointList &points, const QVariant &f, const QVariant &d)
{
    const double x = f.toDouble();
    const double y = d.toDouble();
    if (std::isfinite(x) && std::isfinite(y))
        points.append(QPointF(x, y));
}

PointList parseFlat(const QVariantList &list)
{
    PointList points;
    points.reserve(list.size() / 2);
    for (qsizetype i = 0; i + 1 < list.size(); i += 2)
        appendFinite(points, list[i], list[i + 1]);
    return points;
}

PointList parseEntries(const QVariantList &list)
{
    static const QString f = QStringLiteral("f");
    static const QString d = QStringLiteral("d");
    PointList points;
    points.reserve(list.size());
    for (const QVariant &entry : list) {
        const int type = entry.metaType().id();
        if (type == QMetaType::QVariantMap) {
            const QVariantMap map = entry.toMap();
            appendFinite(points, map.value(f, 0), map.value(d, 0));
        } else if (type == QMetaType::QVariantHash) {
            const QVariantHash hash = entry.toHash();
            appendFinite(points, hash.value(f, 0), hash.value(d, 0));
        } else if (entry.canConvert<QVariantList>()) {
            const QVariantList pair = entry.toList();
            if (pair.size() >= 2)
                appendFinite(points, pair[0], pair[1]);
        }
    }
    return points;
}

} // namespace

PointList parsePoints(const QVariantList &list)
{
    if (list.isEmpty())
        return {};
    return isNumber(list.first()) ? parseFlat(list) : parseEntries(list);
}

double valueAt(const PointList &ascending, double f)
{
    if (f <= ascending.first().x())
        return ascending.first().y();
    if (f >= ascending.last().x())
        return ascending.last().y();
    // First point above f; the one before it is at or below f.
    const auto hi = std::upper_bound(ascending.begin(), ascending.end(), f,
                                     [](double x, const QPointF &p) { return x < p.x(); });
    const QPointF &upper = *hi;
    const QPointF &lower = *(hi - 1);
    if (upper.x() <= lower.x())
        return upper.y();
    return lower.y() + (upper.y() - lower.y()) * (f - lower.x()) / (upper.x() - lower.x());
}

} // namespace snt::ui
