#pragma once

#include <QString>

namespace syscheck {

// Opens the desktop's sound settings where a check item's "action" leads: "micprivacy" (the
// microphone and its input device) or "soundprops" (the playback devices). Returns an empty text
// when a settings program started, else what the user should do instead. Any other key opens
// nothing and says nothing.
QString openSystemAction(const QString &action);

// The microphone's settings, whatever asked for them.
QString openMicPrivacySettings();

} // namespace syscheck
