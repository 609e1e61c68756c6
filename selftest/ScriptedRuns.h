#pragma once

#include <QString>

class QObject;
class QQmlApplicationEngine;

namespace snt::startup {
class CommandLine;
}

namespace snt::selftest {

// The curve test ("--curve-test FILE [FOLDER]" with its four switches), 900 ms after the event
// loop starts; its folder (default `outputRoot`/curvetest, none without a file) is made first.
void scheduleCurveTest(const startup::CommandLine &options, QQmlApplicationEngine &engine,
                       QObject *bridge, bool curveLoaded, const QString &outputRoot);

// The other scripted runs the command line asks for, in this order: "--blocked-demo FILE",
// "--clicktest", "--measuretest", "--arraytest", "--subcalibtest" (each 700 ms after the event
// loop starts; the walks' folders, given after the option or `outputRoot`/<run name>, are made
// first) and "--shot PATH" after "--wait" ms (1200 by default).
void scheduleScriptedRuns(const startup::CommandLine &options, QQmlApplicationEngine &engine,
                          QObject *bridge, const QString &outputRoot);

} // namespace snt::selftest
