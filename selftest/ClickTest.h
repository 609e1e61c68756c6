#pragma once

#include <QString>

class QObject;
class QQmlApplicationEngine;

namespace snt::selftest {

class Walk;

// The click test ("--clicktest"): from the login screen through a point-source measurement, its
// schemes, the plan and the delivery screen, home, settings and back, then the curve window.
// Each step saves a screenshot of the main window into `outputFolder` ("click-01-login.png" …
// "click-13-projects-back.png", "click-14-curve.png", "click-15-curve-resized.png"), checks the
// screen it expects with a CLICK line and clicks the control it means (by object name, else at
// the point the step lists). Ends the program with 0, with 3 when a CLICK check failed, the curve
// window was not found or did not close, and with 2 without a main window.
void runClickTest(const QQmlApplicationEngine &engine, QObject *bridge,
                  const QString &outputFolder);

// The click test's last part: the curve window opened through the bridge, shot
// ("click-14-curve.png"), resized to 820 x 560, shot again ("click-15-curve-resized.png") and
// closed by its close button. A curve window that is not shown ("CLICK curve window not found")
// or stays open ("CLICK curveWindowOpen FAIL") fails the walk with code 3.
void checkCurveWindow(Walk &walk);

} // namespace snt::selftest
