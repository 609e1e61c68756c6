#pragma once

#include "engine/dsp/Container.h"

#include <array>
#include <cstddef>
#include <cstdint>

// `Count` float arrays in one allocation, each starting at a different place within a 4 KiB
// page: the first at its start, the others spread evenly over the page.
//
// Why: arrays of power-of-two lengths allocated one by one start at nearly the same place within
// their pages: large ones are mapped page by page, and those of a page or more taken from the
// heap lie whole pages and a few bytes of the allocator's bookkeeping apart. The first-level cache
// picks a line's set from its address bits below 4 KiB: a loop that walks several such arrays in
// step (the butterflies read four quarters of the real and four of the imaginary work area, and
// three factor tables, all at power-of-two distances) then meets all its lines in one set, more
// than the set holds, and evicts its own lines on every step. Staggered, each array's lines go to
// sets of their own.
template<std::size_t Count>
class StaggeredArrays
{
public:
    static constexpr std::size_t pageFloats = 4096 / sizeof(float);
    // Between neighbouring arrays' starts, a whole number of 64-byte cache lines.
    static constexpr std::size_t spacingFloats = pageFloats / Count / 16 * 16;

    // `lengths[i]` floats for array i, all zeros; the same lengths as before keep the contents.
    void resize(const std::array<std::size_t, Count> &lengths)
    {
        if (lengths == lengths_)
            return;
        std::size_t total = 0;
        for (const std::size_t length : lengths)
            total += length + pageFloats;
        storage_.resize(0);
        storage_.resize(total);
        lengths_ = lengths;
        const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(storage_.data());
        std::size_t next = 0;
        for (std::size_t i = 0; i < Count; ++i) {
            const std::size_t inPage = (base / sizeof(float) + next) % pageFloats;
            next += (i * spacingFloats + pageFloats - inPage) % pageFloats;
            starts_[i] = next;
            next += lengths[i];
        }
    }

    std::size_t size(std::size_t i) const { return lengths_[i]; }
    float *operator[](std::size_t i) { return storage_.data() + starts_[i]; }
    const float *operator[](std::size_t i) const { return storage_.data() + starts_[i]; }

private:
    Container::array<float> storage_;
    std::array<std::size_t, Count> lengths_{};
    std::array<std::size_t, Count> starts_{};
};
