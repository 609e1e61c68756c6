#pragma once

#include <pthread.h>

// The threads that keep audio on time run ahead of every ordinary program: a real-time
// priority where the system grants one, the same for all of them so none starves another.
namespace realtime {

// Raises `thread` to the audio threads' real-time priority; 0, or the error the system gave
// (the thread then runs on at its ordinary priority).
int raiseToAudioPriority(pthread_t thread);

// Returns the calling thread to the ordinary priority, once its timing matters no more.
void returnToOrdinaryPriority();

} // namespace realtime
