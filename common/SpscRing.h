#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

// A fixed ring that carries items from one producer thread to one consumer thread; neither side
// locks or allocates. Both counters only grow and item n lives in slot n & (capacity − 1). The
// producer never overwrites what the consumer has not taken: what does not fit is not stored,
// and the producer learns how much that was, so a loss is always known where it happens.
template<typename T>
class SpscRing
{
public:
    // Room for at least `minimumCapacity` items (a power of two).
    explicit SpscRing(std::size_t minimumCapacity)
        : capacity_(std::bit_ceil(std::max<std::size_t>(minimumCapacity, 2)))
        , items_(std::make_unique<T[]>(capacity_))
    { }
    SpscRing(const SpscRing &) = delete;
    SpscRing &operator=(const SpscRing &) = delete;

    std::size_t capacity() const { return capacity_; }

    // ---- producer ----

    // Stores item(0) … item(n − 1) for as many as fit of `count`; returns how many.
    template<typename Make>
    std::size_t pushGenerated(std::size_t count, Make item)
    {
        const uint64_t w = write_.load(std::memory_order_relaxed);
        if (w - readCache_ + count > capacity_)
            readCache_ = read_.load(std::memory_order_acquire);
        const std::size_t n = std::min<std::size_t>(count, capacity_ - std::size_t(w - readCache_));
        for (std::size_t i = 0; i < n; ++i)
            items_[(w + i) & (capacity_ - 1)] = item(i);
        write_.store(w + n, std::memory_order_release);
        return n;
    }
    std::size_t push(const T *items, std::size_t count)
    {
        return pushGenerated(count, [items](std::size_t i) { return items[i]; });
    }
    bool push(const T &item)
    {
        return pushGenerated(1, [&item](std::size_t) { return item; }) == 1;
    }
    // Items pushed so far (exact on the producer's thread).
    uint64_t written() const { return write_.load(std::memory_order_acquire); }

    // ---- consumer ----

    // Items taken or discarded so far (exact on the consumer's thread).
    uint64_t taken() const { return read_.load(std::memory_order_relaxed); }
    std::size_t available() const
    {
        return std::size_t(write_.load(std::memory_order_acquire) - taken());
    }
    // The oldest item not yet taken, or null.
    const T *front() const { return available() ? &items_[taken() & (capacity_ - 1)] : nullptr; }
    void pop() { read_.store(taken() + 1, std::memory_order_release); }
    // Hands up to `maxCount` waiting items, oldest first, to visit(const T *items, std::size_t n)
    // in at most two contiguous runs, then frees their slots. Returns how many.
    template<typename Visit>
    std::size_t consume(Visit visit, std::size_t maxCount = SIZE_MAX)
    {
        const uint64_t r = taken();
        const std::size_t n = std::min(available(), maxCount);
        const std::size_t first = std::min(n, capacity_ - std::size_t(r & (capacity_ - 1)));
        if (first > 0)
            visit(&items_[r & (capacity_ - 1)], first);
        if (n > first)
            visit(&items_[0], n - first);
        read_.store(r + n, std::memory_order_release);
        return n;
    }
    // Drops everything waiting now.
    void discard()
    {
        read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);
    }

private:
    const std::size_t capacity_;
    const std::unique_ptr<T[]> items_;
    // The counters sit on cache lines of their own: each side writes one and reads the other.
    alignas(64) std::atomic<uint64_t> write_{0};
    uint64_t readCache_ = 0; // producer only: the read counter as last seen
    alignas(64) std::atomic<uint64_t> read_{0};
};
