#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

namespace realtime {

// The latest value of a small record that one thread writes and others read, without a lock:
// a sequence count tells a reader to try again while a write is under way, so the writer (an
// audio thread) never waits and never allocates. The record is kept as whole 64-bit words, each
// an atomic of its own.
template<typename T>
class SeqLock
{
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % sizeof(uint64_t) == 0,
                  "a record of whole 64-bit words");

public:
    // Forgets the value; only while nobody writes.
    void reset() { sequence_.store(0, std::memory_order_release); }

    // On the one writing thread.
    void store(const T &value)
    {
        std::array<uint64_t, wordCount> words;
        std::memcpy(words.data(), &value, sizeof(T));
        const uint64_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < wordCount; ++i)
            words_[i].store(words[i], std::memory_order_relaxed);
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    // The value last stored; none before the first store (or since reset()).
    std::optional<T> load() const
    {
        for (;;) {
            const uint64_t before = sequence_.load(std::memory_order_acquire);
            if (before == 0)
                return std::nullopt;
            std::array<uint64_t, wordCount> words;
            for (std::size_t i = 0; i < wordCount; ++i)
                words[i] = words_[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (before % 2 == 0 && sequence_.load(std::memory_order_relaxed) == before) {
                T value;
                // Trivially copyable, if not trivial (its members have initialisers).
                std::memcpy(static_cast<void *>(&value), words.data(), sizeof(T));
                return value;
            }
        }
    }

private:
    static constexpr std::size_t wordCount = sizeof(T) / sizeof(uint64_t);

    std::atomic<uint64_t> sequence_{0}; // odd while a write is under way; 0: nothing yet
    std::array<std::atomic<uint64_t>, wordCount> words_{};
};

} // namespace realtime
