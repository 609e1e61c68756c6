#pragma once

#include <QString>

class QQmlApplicationEngine;
class QQuickWindow;
class QScreen;

// The main window's size and position at start-up, after a change of screen, and what is kept of
// them between runs: the position always, the size only while it is the user's own (the root
// window's QML property `userSized`, set by the first drag of an edge or corner). The settings
// keys are "window/main/x", "window/main/y", "window/main/w", "window/main/h" and
// "window/main/userSized" in the program's default scope. Positions need a window system that
// lets programs place their windows (X11; under Wayland they are the compositor's).
namespace snt::startup {

// Start-up: a valid `sizeOption` ("--size" WxH) only resizes the engine's root window, and
// nothing is restored, saved on moves or refitted for this run. Otherwise the saved geometry is
// restored onto the root window (a restored user's size keeps the window user-sized), which from
// then on saves itself 800 ms after its last move or resize and refits itself after a change of
// screen; the key "window/main/layoutVersion" of earlier versions is removed.
void restoreMainWindowGeometry(QQmlApplicationEngine &engine, const QString &sizeOption);

// The debounced save: the position, and the size while it is the user's own (else the size
// keys are removed).
void saveMainWindowGeometry(QQuickWindow *window);

// The save on quit: the position, and the size while it is the user's own; removes nothing.
void saveMainWindowGeometryOnQuit(QQmlApplicationEngine &engine);

// Refits the window to the screen it moved to and keeps it on that screen.
void onMainWindowScreenChanged(QQuickWindow *window, QScreen *screen);

} // namespace snt::startup
