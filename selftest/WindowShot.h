#pragma once

#include <QString>

class QQmlApplicationEngine;

namespace snt::selftest {

// One screenshot of the main window, or of the curve window ("工程管理") when `curveWindow` is
// wanted and open, or of the processor panel ("处理器") when `processorPanel` is wanted and open
// (which wins over the curve window), saved to `imagePath` in the format of its extension; then
// the application quits normally. Without any window it quits without writing. A failed save is
// not reported.
void runShot(QQmlApplicationEngine &engine, const QString &imagePath, bool curveWindow,
             bool processorPanel);

} // namespace snt::selftest
