#include "audio/aes67/SavedRoutes.h"

#include <QSettings>

namespace audio::aes67 {

namespace {

const QString group = QStringLiteral("AES67Routes");
const QString array = QStringLiteral("Subscriptions");

} // namespace

void saveSubscriptions(QSettings &settings, const RouteTable &table)
{
    settings.beginGroup(group);
    settings.beginWriteArray(array, int(table.size()));
    int index = 0;
    for (const RouteSubscription &sub : table) {
        settings.setArrayIndex(index++);
        settings.setValue("streamKey", sub.streamKey);
        settings.setValue("streamName", sub.streamName);
        settings.setValue("streamOrigin", sub.streamOrigin);
        settings.setValue("sdpText", QString::fromUtf8(sub.sdpText));
        settings.setValue("deviceKey", sub.deviceKey);
        settings.setValue("deviceName", sub.deviceName);
        settings.setValue("deviceHost", sub.deviceHost);
        settings.setValue("deviceRtspPort", int(sub.deviceRtspPort));
    }
    settings.endArray();
    settings.endGroup();
}

RouteTable loadSubscriptions(QSettings &settings)
{
    RouteTable table;
    settings.beginGroup(group);
    const int size = settings.beginReadArray(array);
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        RouteSubscription sub;
        sub.streamKey = settings.value("streamKey").toString();
        sub.streamName = settings.value("streamName").toString();
        sub.streamOrigin = settings.value("streamOrigin").toString();
        sub.sdpText = settings.value("sdpText").toString().toUtf8();
        sub.deviceKey = settings.value("deviceKey").toString();
        sub.deviceName = settings.value("deviceName").toString();
        sub.deviceHost = settings.value("deviceHost").toString();
        sub.deviceRtspPort = quint16(settings.value("deviceRtspPort").toUInt());
        sub.id = RouteSubscription::makeId(sub.streamKey, sub.deviceKey);
        sub.state = RouteSubscription::Idle;
        sub.pendingRestore = true;
        if (!sub.streamKey.isEmpty() && !sub.deviceKey.isEmpty())
            table.insert(sub.id, sub);
    }
    settings.endArray();
    settings.endGroup();
    return table;
}

} // namespace audio::aes67
