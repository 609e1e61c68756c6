#pragma once

#include "platform/asio/AsioTypes.h"

#include <QString>

namespace audio::asio {

// Checks the answer of one host call. Success passes silently; anything else is logged at
// critical level as the step label, the code and the code's text, and the step fails.
bool check(platform::asio::Error error, const QString &label);

// The text of a code from NotPresent to NoMemory; empty for any other code.
QString errorText(platform::asio::Error error);

} // namespace audio::asio
