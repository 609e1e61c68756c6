#pragma once

#include "eq/Records.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The EQ preset (".kvr", JSON) that carries a scheme to the processor's own software: its bands
// and corner filters with the channel's gain, delay and polarity. Written to the desktop or put
// on the clipboard as indented text; the subwoofer workflow writes the same form with its gain
// and polarity.
namespace eqpreset {

// Whether a corner leaves the program, in the preset as in the processor's list: only when it
// is on, with an order of 1 or more, at a frequency above 0. A frequency made up for a corner
// without one would put a filter into the file that the processor never gets.
bool deliveredCorner(const snt::eq::Corner &corner);

// {"delay": 0, "fileMagic": "Kelvra", "fileVer": 1, "gain", "iir", "polar"}, keys in
// alphabetical order. "iir" lists the high-pass corner, the low-pass corner (each only when
// `deliveredCorner`) and then every enabled band of |gain| ≥ 0.0001 dB as a "peak". A corner's "type" follows its kind exactly: "LR" → "…Lr", "BS" → "…Bessel", else
// "…Butter".
QJsonObject presetJson(const QList<snt::eq::SchemeBand> &bands, const snt::eq::Corner &highPass,
                       const snt::eq::Corner &lowPass, double gainDb = 0.0, bool polar = false);

// The preset as the file and the clipboard get it: indented by four blanks, UTF-8.
QByteArray presetText(const QJsonObject &preset);

// The name without blanks, with \ / : * ? " < > | replaced by "_"; "EQ" when nothing is left.
QString presetBaseName(const QString &name);

// The user's desktop folder, or the home folder where the platform names none.
QString desktopFolder();

// Writes "<folder>/<baseName>.kvr" (the folder created when missing) in full before it replaces
// an older file of that name, so a failed write leaves the older file whole. False on failure.
bool writePresetFile(const QString &folder, const QString &baseName, const QJsonObject &preset);

// The decimal a 32-bit float was written from (1.414f gives 1.414, not 1.4140000343322754), so
// numbers that leave the program read as the engineer typed them.
double shortestDecimal(float value);

} // namespace eqpreset
