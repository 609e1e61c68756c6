#pragma once

#include <QStringList>

// The 20 curve-channel colours, as "#rrggbb" names, in channel order.
const QStringList &channelPalette();
