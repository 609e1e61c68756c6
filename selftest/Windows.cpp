#include "selftest/Windows.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

namespace snt::selftest {

QQuickWindow *mainWindow(const QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

QQuickWindow *shownWindowTitled(const QString &title)
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->title() == title)
            return qobject_cast<QQuickWindow *>(window);
    }
    return nullptr;
}

QQuickItem *shownItemNamed(QQuickItem *root, const QString &name)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = shownItemNamed(child, name))
            return found;
    }
    return nullptr;
}

} // namespace snt::selftest
