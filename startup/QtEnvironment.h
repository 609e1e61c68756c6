#pragma once

#include <QGuiApplication>

#include <memory>

namespace snt::startup {

class CommandLine;

// What Qt reads from the environment when its application object starts and the command line
// decides, set before that object exists:
// - the scripted runs "--shot", "--clicktest", "--measuretest", "--subcalibtest" and
//   "--curve-test" get a fixed display scale of 1 (screenshots of one size on every machine),
//   unless the user set QT_SCALE_FACTOR;
// - the headless modes ("--eq-batch" with an input file, "--export-test") run on the offscreen
//   platform when no display is set, so they work on a machine without one.
void prepareQtEnvironment(const CommandLine &options);

// The GUI application object on the platform the environment chose. When that platform cannot
// start because there is no display to open (no X server at DISPLAY, no Wayland compositor, or
// neither named), the process ends there with exit code 2 and a line on stderr that says so,
// where Qt itself would abort (exit code 134).
std::unique_ptr<QGuiApplication> startGuiApplication(int &argc, char **argv);

} // namespace snt::startup
