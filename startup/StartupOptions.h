#pragma once

#include <QString>

#include <functional>

class QObject;

namespace snt::startup {

class CommandLine;

// Runs `action` once, `delayMs` after the event loop starts (at once for a delay below zero).
// The timer dies with `context`.
void runAfter(int delayMs, QObject *context, std::function<void()> action);

// Applies the options that set the bridge's state before any QML exists, in their fixed order
// ("--light", "--dark", "--project", "--screen", "--subdemo" with "--subsave", "--subcalib",
// "--filldemo", "--fillmic", "--dialog", "--procip", "--curve", "--curve-pack"); the ones that
// need the user interface or a connection are scheduled on their own delays. Returns the curve
// file to load: the first value of "--curve-test", else that of "--curve-file", else empty.
QString applyBridgeOptions(const CommandLine &options, QObject *bridge);

// Loads the curve file into the bridge as its current measurement and logs the outcome; false
// when it was not loaded.
bool loadCurveFile(QObject *bridge, const QString &path);

// Calls the QML function selectPackByName(name) of the first top-level window titled "工程管理"
// (the curve window); nothing when there is none.
void selectPackByNameInManagementWindow(const QString &name);

} // namespace snt::startup
