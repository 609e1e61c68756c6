#include "processor/JsonValues.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace processor {

double paramDouble(const QJsonValue &value, double def)
{
    if (value.isDouble())
        return std::isfinite(value.toDouble()) ? value.toDouble() : def;
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

int paramInt(const QJsonValue &value, int def)
{
    const qint64 number = paramInt64(value, def);
    return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()
                   ? int(number)
                   : def;
}

double finiteOr(double value, double def)
{
    return std::isfinite(value) ? value : def;
}

double mapDouble(const QVariantMap &map, const QString &key, double def)
{
    bool ok = false;
    const double number = map.value(key).toDouble(&ok);
    return ok ? finiteOr(number, def) : def;
}

int mapInt(const QVariantMap &map, const QString &key, int def)
{
    const double number = std::trunc(mapDouble(map, key, def));
    return std::abs(number) <= std::numeric_limits<int>::max() ? int(number) : def;
}

QString valueText(const QJsonValue &value)
{
    return value.toVariant().toString();
}

} // namespace processor
