#pragma once

#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "tests/qml/ScreenDriver.h"
#include "tests/support/GuiTestMain.h"
#include "ui/QmlSetup.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

// The main window over the real bridge, for tests that drive its screens, dialogs and side
// windows as a user would.
namespace snt::test {

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

    template<typename T = QQuickItem>
    T *find(const QString &name, QObject *in = nullptr) const
    {
        return (in ? in : window)->findChild<T *>(name);
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

// Clicks the middle of an item as a user would, wherever it sits on its (scaled) window.
inline void click(const QQuickItem *item, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(item->window(), button, {}, middleOf(item));
}

// Turns the wheel by `notches` (positive: away from the user) over a point of a window.
inline void wheel(QWindow *window, QPoint at, int notches)
{
    QWheelEvent event(at, window->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window, &event);
}

// Presses at `from`, moves in `steps` steps to `to` and releases there, as a hand drags.
inline void drag(QWindow *window, QPoint from, QPoint to, int steps = 8)
{
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(window, from + (to - from) * i / steps, 10);
    QTest::mouseRelease(window, Qt::LeftButton, {}, to, 10);
}

// Opens the picker's menu by a click and clicks the row with this text.
inline bool pick(const QQuickItem *picker, const QString &label)
{
    click(picker);
    const auto *popup = picker->findChild<QObject *>(QStringLiteral("pickerMenu"));
    if (!popup || !QTest::qWaitFor([&] { return popup->property("opened").toBool(); }))
        return false;
    // The menu's rows are its list's delegates: below it as items, not as children.
    const QQuickItem *row = screentest::findItem(
            qvariant_cast<QQuickItem *>(popup->property("contentItem")),
            [&](const QQuickItem *text) { return text->property("text").toString() == label; });
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
