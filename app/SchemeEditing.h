#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The edits an engineer makes to a chosen scheme before delivering it, and the two views the
// delivery screen draws them from. Every edit answers whether it changed anything: an edit that
// changes nothing (the same value again, an index outside the list, a number that is not finite)
// must not rewrite the pack or wake the screens.
namespace schemeedit {

constexpr int maxBands = 12;

// Inserts a band of +3 dB, Q 1 at position 0, at the first of 1, 2, 0.5, 4, 0.25, 8, 0.125 and
// 16 kHz that no band lies within |ln(c/f)| < 0.12 of (1 kHz when every one is taken). False,
// changing nothing, when the list already holds `maxBands` bands.
bool addBand(QList<snt::eq::SchemeBand> &bands);
bool removeBand(QList<snt::eq::SchemeBand> &bands, int index);
bool setBandEnabled(QList<snt::eq::SchemeBand> &bands, int index, bool enabled);
// Stores the values clamped to 20 … 20000 Hz, Q 0.1 … 20 and ±18 dB; a change below 0.0001 in
// all three is no edit. A value within 0.0001 of the band's own is left as the band holds it,
// clamped or not: an edit of one field changes that field only.
bool updateBand(QList<snt::eq::SchemeBand> &bands, int index, double freq, double q, double gainDb);

// A slope of 0 or below switches the corner off. Otherwise the corner is switched on at `hz`
// (10 … 24000 Hz) with the order nearest to slope/6 (halves upwards, 1 … 8); a Linkwitz-Riley
// corner takes the next even order.
bool updateCorner(snt::eq::Corner &corner, double hz, double slopeDbOct);
// "LR" or "BS" in any case, anything else "BW"; a Linkwitz-Riley corner takes an even order.
bool updateCornerType(snt::eq::Corner &corner, const QString &type);

// "+1.5 dB" or "−1.5 dB" with the minus sign U+2212.
QString formatGain(double gainDb);

// One map per band: "index" (position + 1), "freq", "gain", "q", "enabled".
QVariantList bandList(const QList<snt::eq::SchemeBand> &bands);

// The corner cards of the delivery screen for two corners, or for a blocked scheme.
QVariantMap cornerCards(const snt::eq::Corner &highPass, const snt::eq::Corner &lowPass);
QVariantMap blockedCornerCards(const QString &blockedReason);

} // namespace schemeedit
