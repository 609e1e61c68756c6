#include "selftest/UserMessages.h"

#include <QMetaMethod>

namespace snt::selftest {

UserMessages::UserMessages(QObject *bridge)
    : bridge_(bridge)
{
    const QMetaMethod changed = bridge_.notifySignal("toastText");
    if (!changed.isValid())
        return;
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("onToastChanged()"));
    connect(bridge, changed, this, slot);
}

void UserMessages::onToastChanged()
{
    const QString text = bridge_.read("toastText").toString();
    if (!text.isEmpty())
        last_ = text;
}

} // namespace snt::selftest
