#pragma once

class QObject;

namespace snt {

// Process-wide objects are created on whichever thread first asks for them, often a worker that
// ends long before the program. Their timers, sockets and queued calls belong in the
// application's main thread: call this right after creating one, from the creating thread.
void moveToMainThread(QObject *object);

} // namespace snt
