#include "audio/aes67/Lifetime.h"

#include <QCoreApplication>

namespace audio::aes67 {

void stopWithApplication(void (*stop)())
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, stop);
    qAddPostRoutine(stop);
}

} // namespace audio::aes67
