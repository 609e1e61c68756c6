#pragma once

#include <QString>

class QQmlApplicationEngine;

namespace snt::selftest {

// One screenshot of the main window, or of the curve window ("工程管理") when `curveWindow` is
// wanted and shown, or of the processor panel ("处理器") when `processorPanel` is wanted and shown
// (which wins over the curve window), taken once that window is drawn at its size and saved to
// `imagePath` in the format of its extension; then the program quits normally. It neither shows
// nor activates a window. Without any window it writes nothing and ends with 2; a shot that cannot
// be saved is warned of and ends with 3.
void runShot(const QQmlApplicationEngine &engine, const QString &imagePath, bool curveWindow,
             bool processorPanel);

} // namespace snt::selftest
