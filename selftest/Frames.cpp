#include "selftest/Frames.h"

#include "selftest/Windows.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <tuple>

namespace snt::selftest {

namespace {

constexpr int frameWaitMs = 1000;
// Loader.Loading and Image.Loading alike.
constexpr int loadingStatus = 2;

// A shown loader or picture below `item` whose content has not arrived: pictures load on a
// thread of their own and may come in frames after the page that holds them.
bool stillLoading(const QQuickItem *item)
{
    if (!item->isVisible())
        return false;
    const bool loads = item->inherits("QQuickLoader") || item->inherits("QQuickImageBase");
    if (loads && item->property("status").toInt() == loadingStatus)
        return true;
    const QList<QQuickItem *> children = item->childItems();
    return std::any_of(children.cbegin(), children.cend(), stillLoading);
}

// The main window's page of the current screen is there and no longer fading in: every change of
// screen starts the page at opacity 0, so a frame drawn before the fade has ended shows the
// stage's bare background with only the side tabs.
bool pageShown(QQuickItem *root)
{
    const QQuickItem *loader = shownItemNamed(root, QStringLiteral("pageLoader"));
    if (!loader)
        return true;
    const auto *page = qobject_cast<QQuickItem *>(loader->property("item").value<QObject *>());
    return page && page->opacity() >= 1.0;
}

} // namespace

void waitForFrame(QQuickWindow *window)
{
    QObject receiver;
    bool drawn = false;
    QObject::connect(
            window, &QQuickWindow::frameSwapped, &receiver, [&drawn] { drawn = true; },
            Qt::QueuedConnection);
    window->update();
    std::ignore = QTest::qWaitFor([&drawn] { return drawn; }, frameWaitMs);
}

bool waitUntilDrawn(QQuickWindow *window, int timeoutMs)
{
    QQuickItem *root = window->contentItem();
    const bool ready
            = QTest::qWaitFor([root] { return pageShown(root) && !stillLoading(root); }, timeoutMs);
    waitForFrame(window);
    return ready;
}

} // namespace snt::selftest
