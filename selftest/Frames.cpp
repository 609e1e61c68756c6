#include "selftest/Frames.h"

#include "common/Log.h"
#include "selftest/Windows.h"

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <tuple>

namespace snt::selftest {

namespace {

constexpr int frameWaitMs = 1000;
// Under a busy machine a page with its pictures may take seconds to come.
constexpr int drawnWaitMs = 10000;
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

// Until the window system has confirmed the window's last resize, the scene keeps its former size
// and a grab shows the window as it was.
bool sceneTakesWindowSize(const QQuickWindow *window)
{
    return window->contentItem()->size() == QSizeF(window->size());
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
    const bool ready = QTest::qWaitFor(
            [window, root] {
                return sceneTakesWindowSize(window) && pageShown(root) && !stillLoading(root);
            },
            timeoutMs);
    waitForFrame(window);
    return ready;
}

bool saveDrawnWindow(QQuickWindow *window, const QString &path)
{
    if (!waitUntilDrawn(window, drawnWaitMs))
        qCWarning(lcSelfTest).noquote() << "SHOT" << path << "taken before it was drawn";
    return window->grabWindow().save(path);
}

} // namespace snt::selftest
