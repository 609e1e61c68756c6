#include "engine/ChannelManager.h"

#include "engine/ChannelPalette.h"

#include <QSettings>

namespace {

const QString colorBeyondPalette = QStringLiteral("#808080");

} // namespace

ChannelManager::ChannelManager(QObject *parent)
    : QObject(parent)
{
    const QStringList &palette = channelPalette();
    slots_.reserve(channelCount);
    for (int i = 0; i < channelCount; ++i) {
        Slot slot;
        slot.index = i;
        slot.color = i < palette.size() ? palette.at(i) : colorBeyondPalette;
        slots_.append(slot);
    }
    const QSettings settings(QStringLiteral("Sonetra"), QStringLiteral("ChannelManager"));
    showReplaceConfirm_ = settings.value(QStringLiteral("showReplaceConfirm"), true).toBool();
}

QString ChannelManager::color(int index) const
{
    return index >= 0 && index < slots_.size() ? slots_.at(index).color : QString();
}

bool ChannelManager::isVisible(int index) const
{
    return index >= 0 && index < slots_.size() && slots_.at(index).visible;
}

bool ChannelManager::isEmpty(int index) const
{
    return index < 0 || index >= slots_.size() || slots_.at(index).channel.values.isEmpty();
}
