#pragma once

#include <QByteArray>
#include <QVariant>

namespace snt::startup {

// Appends `value` as QJsonDocument's indented text has it, byte for byte (four spaces a level,
// object keys in order, whole numbers up to 2^53 without a fraction, non-finite numbers as
// null), written straight from the variant: a batch result holds thousands of curve points, and
// turning each into a QJsonObject and then into text costs more than the text itself. `level`
// is the nesting the value starts at; the first line is not indented, as after a key or a comma.
// Maps, lists, strings, booleans and numbers are written, and chart point lists (QList<QPointF>)
// as the lists of point maps {"d": y, "f": x} the screens read; any other value as null.
void appendIndentedJson(QByteArray &out, const QVariant &value, int level);

} // namespace snt::startup
