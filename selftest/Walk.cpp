#include "selftest/Walk.h"

#include "common/Log.h"
#include "selftest/Frames.h"
#include "selftest/Windows.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace snt::selftest {

namespace {

constexpr int settleMs = 300;
constexpr int controlWaitMs = 3000;
constexpr int controlPollMs = 50;

// The item at the end of `path`, each name looked for among the shown items below the last.
QQuickItem *shownItemAt(QQuickItem *root, const QStringList &path)
{
    QQuickItem *item = root;
    for (const QString &name : path) {
        item = shownItemNamed(item, name);
        if (!item)
            return nullptr;
    }
    return item;
}

QPoint centreInWindow(const QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

} // namespace

Walk::Walk(const QQmlApplicationEngine &engine, QObject *bridge, QString outputFolder)
    : engine_(engine)
    , bridge_(bridge)
    , messages_(bridge)
    , outputFolder_(std::move(outputFolder))
{ }

bool Walk::start(bool settle)
{
    window_ = mainWindow(engine_);
    if (!window_) {
        QCoreApplication::exit(2);
        return false;
    }
    window_->show();
    window_->requestActivate();
    if (settle)
        wait(settleMs);
    return true;
}

QString Walk::screen() const
{
    return bridge_.read("screen").toString();
}

bool Walk::flag(const char *property) const
{
    return bridge_.read(property).toBool();
}

int Walk::number(const char *property) const
{
    return bridge_.read(property).toInt();
}

QPoint Walk::fromRight(int n, int y) const
{
    return {window_->width() - n, y};
}

void Walk::wait(int ms)
{
    QTest::qWait(ms);
}

void Walk::shot(const QString &fileName) const
{
    grabWindowToFile(window_, outputFolder_, fileName);
}

void Walk::click(QPoint at) const
{
    QTest::mouseClick(window_, Qt::LeftButton, Qt::NoModifier, at);
}

void Walk::click(const ClickTarget &target) const
{
    click(window_, target);
}

void Walk::click(QQuickWindow *window, const ClickTarget &target) const
{
    const QQuickItem *control = waitForControl(window, target.path);
    const QPoint at = control ? centreInWindow(control) : target.point;
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
}

bool Walk::pressUntilArmed(const ClickTarget &primary) const
{
    click(primary);
    if (!flag("measuring") || flag("autoMeasuring"))
        return true;
    // The meters agree seconds after the signal starts: the sound has to come back, and the two
    // levels have to stay together for a while.
    const bool settled
            = QTest::qWaitFor([this] { return !flag("measuring") || flag("measureLevelReady"); },
                              levelWaitSeconds * 1000);
    if (!settled)
        return false;
    // A run that ended meanwhile is left to the caller's checks, which name its cause.
    if (flag("measuring"))
        click(primary);
    return true;
}

void Walk::pressEscape() const
{
    QTest::keyClick(window_, Qt::Key_Escape);
}

void Walk::callThroughBridge(const char *method, const QVariantList &arguments,
                             const QString &why) const
{
    QStringList call{QLatin1String(method)};
    for (const QVariant &argument : arguments)
        call << argument.toString();
    qCInfo(lcSelfTest).noquote() << "CLICK" << call.join(QLatin1Char(' '))
                                 << "through the bridge:" << why;
    bridge_.call(method, arguments);
}

void Walk::goThroughBridge(const QString &target) const
{
    if (screen() != target)
        callThroughBridge("go", {target}, QStringLiteral("no control leads there"));
}

QString Walk::withCause(const QString &reason) const
{
    const QString cause = messages_.last();
    return cause.isEmpty() ? reason : reason + QStringLiteral("：") + cause;
}

void Walk::expectScreen(const QString &expected)
{
    const QString current = screen();
    const bool same = current == expected;
    qCInfo(lcSelfTest).noquote() << "CLICK" << current << "expect" << expected
                                 << (same ? "OK" : "FAIL");
    if (!same)
        fail(3);
}

void Walk::fail(int code)
{
    if (exitCode_ == 0)
        exitCode_ = code;
}

void Walk::end() const
{
    QCoreApplication::exit(exitCode_);
}

QQuickItem *Walk::waitForControl(QQuickWindow *window, const QStringList &path) const
{
    if (!window || path.isEmpty())
        return nullptr;
    const QDeadlineTimer deadline(controlWaitMs);
    do {
        QQuickItem *control = shownItemAt(window->contentItem(), path);
        if (control && control->isEnabled()) {
            // A control that has just appeared takes its place in its row or column at the
            // window's next polish; until then its centre may lie on a neighbour.
            waitForFrame(window);
            // The frame may have replaced it (a list's delegate, a page).
            return shownItemAt(window->contentItem(), path);
        }
        wait(controlPollMs);
    } while (!deadline.hasExpired());
    return nullptr;
}

void grabWindowToFile(QQuickWindow *window, const QString &folder, const QString &fileName)
{
    if (window)
        saveDrawnWindow(window, folder + QLatin1Char('/') + fileName);
}

} // namespace snt::selftest
