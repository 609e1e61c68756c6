#include "common/MainThread.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

namespace snt {

void moveToMainThread(QObject *object)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && object->thread() != app->thread())
        object->moveToThread(app->thread());
}

} // namespace snt
