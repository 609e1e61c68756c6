#pragma once

#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "startup/QmlWindowRules.h"
#include "tests/support/GuiTestMain.h"
#include "ui/QmlSetup.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQuickTest/quicktest.h>

#include <memory>

// The main window over the real bridge, for tests that drive its screens, dialogs and side
// windows as a user would.
namespace snt::test {

// Every item of that name under `root`, in the item tree.
inline QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    for (QQuickItem *child : root->childItems()) {
        if (child->objectName() == name)
            found << child;
        found << itemsNamed(child, name);
    }
    return found;
}

// The item of that name a user would reach: the first one shown, else the first one (pages keep
// items of the same name, such as the update pill of the home page and of the top bar).
inline QQuickItem *itemNamed(QQuickItem *root, const QString &name)
{
    const QList<QQuickItem *> found = itemsNamed(root, name);
    for (QQuickItem *item : found)
        if (item->isVisible())
            return item;
    return found.isEmpty() ? nullptr : found.first();
}

class MainWindowUnderTest
{
public:
    // Names the application as the program does, gives the audio client `plugin` as its only
    // backend, and loads Main.qml. False when any of it fails.
    bool start(std::function<std::shared_ptr<audio::Plugin>()> plugin)
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        if (!audio::Client::setPluginFactories({std::move(plugin)}) || !audio::Client::instance())
            return false;
        bridge = std::make_unique<QmlBridge>();
        engine = std::make_unique<QQmlApplicationEngine>();
        snt::ui::setUpQmlEngine(*engine);
        snt::startup::registerQmlTypes();
        engine->rootContext()->setContextProperty(QStringLiteral("bridge"), bridge.get());
        engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
        if (engine->rootObjects().size() != 1)
            return false;
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        return window && QTest::qWaitForWindowExposed(window);
    }

    void stop()
    {
        engine.reset();
        bridge.reset();
    }

    // An object by name under `in` (the window when none): in the object tree, or in the item
    // tree where views put their delegates.
    template<typename T = QQuickItem>
    T *find(const QString &name, QObject *in = nullptr) const
    {
        in = in ? in : window;
        if (T *found = in->findChild<T *>(name))
            return found;
        auto *window = qobject_cast<QQuickWindow *>(in);
        auto *root = window ? window->contentItem() : qobject_cast<QQuickItem *>(in);
        return root ? qobject_cast<T *>(itemNamed(root, name)) : nullptr;
    }

    // The page the main window shows now.
    QQuickItem *page() const
    {
        auto *loader = find<QObject>(QStringLiteral("pageLoader"));
        return loader ? qvariant_cast<QQuickItem *>(loader->property("item")) : nullptr;
    }

    std::unique_ptr<QmlBridge> bridge;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
};

inline QPoint middleOf(const QQuickItem *item)
{
    return item->mapToScene({item->width() / 2, item->height() / 2}).toPoint();
}

// Clicks the middle of an item as a user would, wherever it sits on its (scaled) window. A user
// sees a button only once it is placed: one that has just appeared in a row (a stop button next
// to the primary one) takes its place at the window's next polish, and until then its middle may
// lie on its neighbour.
inline void click(const QQuickItem *item, Qt::MouseButton button = Qt::LeftButton)
{
    QVERIFY(QQuickTest::qWaitForPolish(item->window()));
    QTest::mouseClick(item->window(), button, {}, middleOf(item));
}

// Turns the wheel by `notches` (positive: away from the user) over a point of a window.
inline void wheel(QWindow *window, QPoint at, int notches)
{
    QWheelEvent event(at, window->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window, &event);
}

// Types Latin text into the window's focused item, key by key.
inline void typeText(QWindow *window, const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(window, c.toLatin1());
}

// Presses at `from`, moves in `steps` steps to `to` and releases there, as a hand drags.
inline void drag(QWindow *window, QPoint from, QPoint to, int steps = 8)
{
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(window, from + (to - from) * i / steps, 10);
    QTest::mouseRelease(window, Qt::LeftButton, {}, to, 10);
}

// Opens the picker's menu by a click: the menu once it is open, else nullptr.
inline QObject *openMenu(const QQuickItem *picker)
{
    click(picker);
    auto *popup = picker->findChild<QObject *>(QStringLiteral("pickerMenu"));
    if (!popup || !QTest::qWaitFor([&] { return popup->property("opened").toBool(); }))
        return nullptr;
    return popup;
}

// The shown text of the open menu's row with this text, once the menu has made it; else nullptr.
inline QQuickItem *menuRow(const QObject *popup, const QString &label)
{
    QQuickItem *row = nullptr;
    const std::function<void(QQuickItem *)> look = [&](QQuickItem *item) {
        for (QQuickItem *child : item->childItems()) {
            if (child->property("text").toString() == label && child->isVisible())
                row = child;
            look(child);
        }
    };
    // A menu whose options grew while it was closed grows to them as it opens, a layout pass at a
    // time, and makes the rows that come into view on the way.
    const bool made = QTest::qWaitFor([&] {
        look(qvariant_cast<QQuickItem *>(popup->property("contentItem")));
        return row != nullptr;
    });
    return made ? row : nullptr;
}

// Opens the picker's menu by a click and clicks the row with this text.
inline bool pick(const QQuickItem *picker, const QString &label)
{
    const QObject *popup = openMenu(picker);
    QQuickItem *row = popup ? menuRow(popup, label) : nullptr;
    if (!row)
        return false;
    click(row);
    return QTest::qWaitFor([&] { return !popup->property("visible").toBool(); });
}

// Texts shown by a picker's menu rows, in order.
inline QStringList optionLabels(const QQuickItem *picker)
{
    QStringList labels;
    for (const QVariant &option : picker->property("options").toList())
        labels << option.toMap().value(QStringLiteral("label")).toString();
    return labels;
}

} // namespace snt::test
