#pragma once

#include <QByteArray>

namespace snt::startup {

// Appends `value` as QString::number(value, 'g', 6) writes it: 6 significant digits, in the
// shorter of fixed and scientific form, without trailing zeros ("%g").
void appendSixDigitNumber(QByteArray &out, double value);

} // namespace snt::startup
