#pragma once

namespace audio::aes67 {

// The stack's objects live until the process ends, past the application object. Their sockets,
// timers and threads must end while the event loop and the application still exist: `stop` runs
// when the application is about to quit and, for programs that never run the event loop (tests,
// tools), when the application object goes away.
void stopWithApplication(void (*stop)());

} // namespace audio::aes67
