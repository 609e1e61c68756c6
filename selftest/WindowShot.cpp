#include "selftest/WindowShot.h"

#include "common/Log.h"
#include "selftest/Frames.h"
#include "selftest/Windows.h"

#include <QCoreApplication>
#include <QQuickWindow>

namespace snt::selftest {

namespace {

const char *const tag = "[SelfTest]";

} // namespace

void runShot(const QQmlApplicationEngine &engine, const QString &imagePath, bool curveWindow,
             bool processorPanel)
{
    QQuickWindow *target = mainWindow(engine);
    if (curveWindow) {
        if (QQuickWindow *found = shownWindowTitled(QStringLiteral("工程管理")))
            target = found;
    }
    if (processorPanel) {
        if (QQuickWindow *found = shownWindowTitled(QStringLiteral("处理器")))
            target = found;
    }
    if (!target) {
        sntWarning(lcSelfTest, tag) << "no window to shoot";
        QCoreApplication::exit(2);
        return;
    }
    if (!saveDrawnWindow(target, imagePath)) {
        sntWarning(lcSelfTest, tag) << "the shot could not be saved:" << imagePath;
        QCoreApplication::exit(3);
        return;
    }
    QCoreApplication::quit();
}

} // namespace snt::selftest
