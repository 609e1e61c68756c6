#pragma once

#include "platform/Result.h"

#include <QString>
#include <initializer_list>

namespace audio::wasapi {

// Checks the result of one audio-layer call against the accepted codes (success only, unless
// told otherwise). A result outside them is logged at debug level as: the step label, the code
// in hexadecimal, the system's text for the code and its symbolic name (or "unknown"); the
// step then fails and the caller returns its empty answer.
bool check(platform::Result result, const QString &label,
           std::initializer_list<platform::Result> accepted = {platform::result::Ok});

// The text for a code when the system has none of its own: the fallbacks of this API family.
QString resultMessage(platform::Result result);

} // namespace audio::wasapi
