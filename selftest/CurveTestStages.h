#pragma once

#include <QString>
#include <QStringList>

namespace snt::selftest {

class Walk;
struct CurveTestOptions;

// The optional stages of the curve test, each appending its lines to `summary`.

// RESULTEDIT, TOGGLE, BYPASS and AUTORESET: the delivery screen's band and corner edits behave.
void checkResultEdits(const Walk &walk, QStringList &summary);

// The curve window: its smoothing picker and, with the management shots, its panel, dialogs,
// menu, the pack deletion and a project rename that is undone.
void walkCurveWindow(const Walk &walk, const CurveTestOptions &options, QStringList &summary);

// Numbers as the summary writes them: fixed with that many decimals, or in the general form of
// six significant digits without trailing zeros (C's %g).
QString fixed(double value, int decimals);
QString general(double value);

} // namespace snt::selftest
