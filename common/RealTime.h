#pragma once

#include <cstdint>

// Audio threads never allocate, never wait for a lock that other code may hold, and never log
// while audio runs: one late period is an audible dropout and a shifted measurement. Their loops
// mark themselves with a Section; what happens inside one is counted (heap calls by the counting
// heap functions that test programs install, lock waits by the checked locks below), so a test
// can stream audio and prove the paths clean.
namespace realtime {

// Marks the calling thread as running audio for the section's lifetime; sections nest.
class Section
{
public:
    Section();
    ~Section();
    Section(const Section &) = delete;
    Section &operator=(const Section &) = delete;
};

bool inSection();

// What happened inside sections, over all threads, since the last reset.
struct Violations
{
    uint64_t heapCalls = 0; // allocations and frees
    uint64_t lockWaits = 0;
};
Violations violations();
void resetViolations();

// Counts one heap call (an allocation or a free) made inside a section; called by the counting
// heap functions.
void countHeapCall();
void countLockWait();

// Takes `mutex`. Inside a section a mutex that another thread holds counts as a wait before it
// is waited for; the audio thread's locks are meant to be short and shared with other audio
// threads only, so a wait means some other code held one for long.
template<typename Mutex>
void lock(Mutex &mutex)
{
    if (inSection()) {
        if (mutex.try_lock())
            return;
        countLockWait();
    }
    mutex.lock();
}

// The scoped form of lock().
template<typename Mutex>
class Lock
{
public:
    explicit Lock(Mutex &mutex)
        : mutex_(mutex)
    {
        realtime::lock(mutex_);
    }
    ~Lock() { mutex_.unlock(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    Mutex &mutex_;
};

} // namespace realtime
