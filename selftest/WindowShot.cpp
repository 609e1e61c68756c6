#include "selftest/WindowShot.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

namespace snt::selftest {

namespace {

QQuickWindow *windowTitled(const QString &title)
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->title() == title)
            return qobject_cast<QQuickWindow *>(window);
    }
    return nullptr;
}

} // namespace

void runShot(QQmlApplicationEngine &engine, const QString &imagePath, bool curveWindow,
             bool processorPanel)
{
    QQuickWindow *target = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (curveWindow) {
        if (QQuickWindow *found = windowTitled(QStringLiteral("工程管理")))
            target = found;
    }
    if (processorPanel) {
        if (QQuickWindow *found = windowTitled(QStringLiteral("处理器")))
            target = found;
    }
    if (target)
        target->grabWindow().save(imagePath);
    QCoreApplication::quit();
}

} // namespace snt::selftest
