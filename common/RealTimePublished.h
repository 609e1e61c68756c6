#pragma once

#include <atomic>
#include <mutex>
#include <utility>

namespace realtime {

// Values other threads change and one audio thread reads, taken afresh at the start of each of
// its blocks. Those who change them lock among themselves; the audio thread only tries the
// lock, and when somebody holds it, the block runs on the values it had. The audio thread
// neither allocates nor frees: taking the latest values swaps them with the ones it had, which
// stay on the changing side until the next change releases them there. So a value may hold
// shared tables (implicitly shared lists, shared pointers) as well as numbers.
template<typename T>
class Published
{
public:
    Published() = default;
    Published(const Published &) = delete;
    Published &operator=(const Published &) = delete;

    // Applies change(T &) to the latest values and publishes the result.
    template<typename Change>
    void change(Change change)
    {
        T released;
        std::lock_guard lock(mutex_);
        change(latest_);
        released = std::exchange(published_, latest_);
        fresh_.store(true, std::memory_order_release);
    }
    // A copy of the latest values, for any thread but the audio thread.
    T latest() const
    {
        std::lock_guard lock(mutex_);
        return latest_;
    }

    // The audio thread, at the start of a block: the values to use for it.
    const T &take()
    {
        if (fresh_.load(std::memory_order_acquire)) {
            std::unique_lock lock(mutex_, std::try_to_lock);
            if (lock.owns_lock()) {
                std::swap(current_, published_);
                fresh_.store(false, std::memory_order_relaxed);
            }
        }
        return current_;
    }
    // The values the audio thread took last; on the audio thread only.
    const T &current() const { return current_; }

private:
    mutable std::mutex mutex_;
    T latest_;
    T published_;
    T current_;
    std::atomic<bool> fresh_{false};
};

} // namespace realtime
