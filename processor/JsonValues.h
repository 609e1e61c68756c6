#pragma once

#include <QJsonValue>
#include <QString>
#include <QVariantMap>

// How the processor's values are read: it sends numbers, or texts that hold numbers.
namespace processor {

// A finite JSON number, or a text holding a finite decimal number; anything else gives `def`.
double paramDouble(const QJsonValue &value, double def);

// A JSON number (its integer part), or a text holding a decimal integer; anything else gives
// `def`. 64 bits wide, so 32-bit words sent unsigned (up to 4294967295) fit.
qint64 paramInt64(const QJsonValue &value, qint64 def);
// The same within the range of an int.
int paramInt(const QJsonValue &value, int def);

// `value` where it is finite, else `def`.
double finiteOr(double value, double def);

// A value handed in by the user interface: a finite number under `key`, else `def`.
double mapDouble(const QVariantMap &map, const QString &key, double def);
// The same, its integer part, within the range of an int.
int mapInt(const QVariantMap &map, const QString &key, int def);

// Any JSON value as plain text: texts as they are, numbers in their shortest form, true/false.
QString valueText(const QJsonValue &value);

} // namespace processor
