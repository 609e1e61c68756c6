#pragma once

#include "common/MainThread.h"

#include <memory>

namespace audio::aes67 {

// The stack's objects live until the process ends, past the application object. Their sockets,
// timers and threads must end while the event loop and the application still exist: `stop` runs
// when the application is about to quit and, for programs that never run the event loop (tests,
// tools), when the application object goes away.
void stopWithApplication(void (*stop)());

// Takes the object behind a process-wide instance(): it moves to the application's main thread,
// since its first caller may be a worker (a generator thread) that ends long before the program,
// and `stop` runs with the application as above.
template<class T>
std::unique_ptr<T> makeProcessWide(T *created, void (*stop)())
{
    snt::moveToMainThread(created);
    stopWithApplication(stop);
    return std::unique_ptr<T>(created);
}

} // namespace audio::aes67
