#include "processor/JsonValues.h"

#include <QVariant>

#include <cmath>

namespace processor {

double paramDouble(const QJsonValue &value, double def)
{
    if (value.isDouble())
        return value.toDouble();
    if (!value.isString())
        return def;
    bool ok = false;
    const double parsed = value.toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(parsed) ? parsed : def;
}

qint64 paramInt64(const QJsonValue &value, qint64 def)
{
    if (value.isDouble()) {
        const double number = std::trunc(value.toDouble());
        return std::abs(number) < 9.0e18 ? qint64(number) : def;
    }
    if (!value.isString())
        return def;
    bool ok = false;
    const qint64 parsed = value.toString().trimmed().toLongLong(&ok);
    return ok ? parsed : def;
}

QString valueText(const QJsonValue &value)
{
    return value.toVariant().toString();
}

} // namespace processor
