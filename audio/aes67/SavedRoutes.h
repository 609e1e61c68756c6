#pragma once

#include "audio/aes67/Types.h"

class QSettings;

namespace audio::aes67 {

// The route subscriptions kept in the settings group "AES67Routes", array "Subscriptions".
// Only what identifies a route is stored: its id is formed again on reading, and its state,
// error and restore flag start afresh.

// Rewrites the whole array, in table order.
void saveSubscriptions(QSettings &settings, const RouteTable &table);

// Reads the array: every element gets state Idle and a pending restore; elements without a
// stream or device key are skipped, and a later element replaces an earlier one with its id.
RouteTable loadSubscriptions(QSettings &settings);

} // namespace audio::aes67
