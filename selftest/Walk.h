#pragma once

#include "selftest/UserMessages.h"
#include "startup/BridgeCalls.h"

#include <QPoint>
#include <QString>
#include <QStringList>

class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

namespace snt::selftest {

// The control a step of a walk means: the item reached through `path` (object names, each found
// among the shown items below the one before, starting at the window's root item), or `point`
// in the window's coordinates when no such control is shown and enabled within 3 s.
struct ClickTarget
{
    QStringList path;
    QPoint point;
};

// What every scripted walk shares: the main window, the bridge read and driven by the names the
// QML uses, synthetic clicks and keys, waits that keep the application's events running,
// screenshots in the output folder and the exit code the walk ends the program with.
class Walk
{
public:
    Walk(const QQmlApplicationEngine &engine, QObject *bridge, QString outputFolder);

    // Takes the engine's first root object as the main window, shows and activates it and, with
    // `settle`, waits 300 ms. False when there is no Quick window: the program then ends with
    // code 2 and nothing is written.
    bool start(bool settle = true);

    QQuickWindow *window() const { return window_; }
    const startup::BridgeCalls &bridge() const { return bridge_; }
    QString outputFolder() const { return outputFolder_; }
    QString screen() const;
    bool flag(const char *property) const;
    int number(const char *property) const;
    // The point n pixels left of the main window's right edge, at height y.
    QPoint fromRight(int n, int y) const;

    // Keeps processing the application's events for that long.
    static void wait(int ms);
    // Saves the main window's rendered content as outputFolder/fileName, once it shows its
    // screen drawn.
    void shot(const QString &fileName) const;

    void click(QPoint at) const;
    void click(const ClickTarget &target) const;
    void click(QQuickWindow *window, const ClickTarget &target) const;
    // Presses the primary control of a measuring screen as a user does to start an automatic
    // measurement: once, and, when that only started the signal for the level check (play, then
    // measure), once more as soon as the two meters agree (the bridge's `measureLevelReady`, which
    // the control waits for), at most `levelWaitSeconds` later. False when they never agreed in
    // that time: the second press is not made and the signal plays on. A run that ends while
    // the walk waits is not started again.
    bool pressUntilArmed(const ClickTarget &primary) const;
    static constexpr int levelWaitSeconds = 10;
    void pressEscape() const;

    // Calls a bridge operation that no control of the screen shown offers in this state, as the
    // walk's step expects it done, and logs that it did and why.
    void callThroughBridge(const char *method, const QVariantList &arguments,
                           const QString &why) const;
    // Goes to a screen that no control of the user interface leads to, as the walk's steps
    // expect it, and logs that it did; nothing when the walk is there already.
    void goThroughBridge(const QString &screen) const;

    // The reason of a failed check, followed by the last message the program showed its user,
    // which names the cause where the program knew it.
    QString withCause(const QString &reason) const;

    // Logs "CLICK <screen> expect <expected> OK|FAIL"; a mismatch fails the walk with code 3.
    void expectScreen(const QString &expected);
    // Marks the walk failed; its end then requests `code` (the first failure's code stays).
    void fail(int code);
    // Requests the program's exit with the walk's code: 0, or the code of its first failure.
    void end() const;

private:
    QQuickItem *waitForControl(QQuickWindow *window, const QStringList &path) const;

    const QQmlApplicationEngine &engine_;
    startup::BridgeCalls bridge_;
    UserMessages messages_;
    QString outputFolder_;
    QQuickWindow *window_ = nullptr;
    int exitCode_ = 0;
};

// Grabs the window's rendered content once the window shows what its state asks for (its page
// and pictures loaded, a frame drawn after them; a warning after 10 s without) and saves it as
// folder/fileName in the format of its extension; a failed save is skipped silently.
void grabWindowToFile(QQuickWindow *window, const QString &folder, const QString &fileName);

} // namespace snt::selftest
