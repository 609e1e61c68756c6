#pragma once

#include "app/QmlBridge.h"
#include "startup/QmlWindowRules.h"
#include "ui/QmlSetup.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <functional>
#include <memory>

// Drives the program's main window as a user would: the real QML on a real bridge, clicks,
// hovers and keys at the places the items are shown, and the window's pixels.
namespace screentest {

// The first visible item below `root` (depth first, root included) that `match` accepts.
inline QQuickItem *findItem(QQuickItem *root, const std::function<bool(QQuickItem *)> &match)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (match(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, match))
            return found;
    }
    return nullptr;
}

inline QQuickItem *named(QQuickItem *root, const QString &name)
{
    return findItem(root, [&](QQuickItem *item) { return item->objectName() == name; });
}

inline QQuickItem *withText(QQuickItem *root, const QString &text)
{
    return findItem(root, [&](QQuickItem *item) {
        return item->property("text").toString() == text && item->property("font").isValid();
    });
}

class ScreenDriver
{
public:
    // The main window as the program loads it, with `bridge` as its bridge.
    explicit ScreenDriver(QmlBridge &bridge)
    {
        snt::ui::setUpQmlEngine(engine_);
        snt::startup::registerQmlTypes();
        engine_.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
        load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    }

    // One component of the user interface alone, in a window of `size`.
    ScreenDriver(QmlBridge &bridge, const QString &component, QSize size)
    {
        snt::ui::setUpQmlEngine(engine_);
        engine_.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
        QQmlComponent qml(&engine_, QUrl(QStringLiteral("qrc:/qml/%1.qml").arg(component)));
        root_.reset(qobject_cast<QQuickItem *>(qml.create()));
        if (!root_) {
            qWarning() << qml.errors();
            return;
        }
        window_ = std::make_unique<QQuickWindow>();
        root_->setParentItem(window_->contentItem());
        root_->setSize(size);
        window_->resize(size);
        window_->show();
    }

    ~ScreenDriver()
    {
        root_.reset();
        window_.reset();
    }

    bool ready() { return window_ && QTest::qWaitForWindowExposed(window_.get()); }
    QQuickWindow *window() { return window_.get(); }
    QQmlEngine &engine() { return engine_; }

    // The shown page of the main window, or the component shown alone.
    QQuickItem *page()
    {
        if (root_)
            return root_.get();
        QQuickItem *loader = named(window_->contentItem(), QStringLiteral("pageLoader"));
        return loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    }
    QQuickItem *find(const QString &name) { return named(page(), name); }
    QQuickItem *findInWindow(const QString &name) { return named(window_->contentItem(), name); }

    QPoint centreOf(QQuickItem *item) const
    {
        return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    }
    void click(QQuickItem *item) { clickAt(centreOf(item)); }
    void clickAt(QPoint at)
    {
        QTest::mouseClick(window_.get(), Qt::LeftButton, Qt::NoModifier, at);
    }
    void hover(QQuickItem *item) { QTest::mouseMove(window_.get(), centreOf(item)); }

    // Clicks into a field, replaces its text by typing `text` and leaves it with Return.
    void type(QQuickItem *field, const QString &text, bool leave = true)
    {
        click(field);
        QTest::keyClick(window_.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window_.get(), Qt::Key_Backspace);
        for (const QChar c : text)
            QTest::keyClick(window_.get(), c.toLatin1());
        if (leave)
            QTest::keyClick(window_.get(), Qt::Key_Return);
    }

    QImage grab() { return window_->grabWindow().convertToFormat(QImage::Format_RGB32); }

private:
    void load(const QUrl &url)
    {
        QQmlComponent qml(&engine_, url);
        window_.reset(qobject_cast<QQuickWindow *>(qml.create()));
        if (!window_)
            qWarning() << qml.errors();
    }

    QQmlEngine engine_;
    std::unique_ptr<QQuickWindow> window_;
    std::unique_ptr<QQuickItem> root_;
};

} // namespace screentest
