#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Per-column moving averages over the last `depth` ticks, kept as running sums so that one tick
// costs one subtraction and one addition per column. The ring holds column i of row r at
// i · depth + r, so a column's history is contiguous.
template<typename T>
class MovingWindow
{
public:
    // Reallocates for the new shape and forgets every value.
    void resize(uint32_t depth, uint32_t width)
    {
        depth_ = std::max<uint32_t>(depth, 1);
        width_ = width;
        ring_.assign(std::size_t(depth_) * width_, T{});
        sums_.assign(width_, T{});
        count_ = 0;
        row_ = 0;
    }

    void clear() { resize(depth_, width_); }

    // Stores this tick's value of column i and returns the mean of the values the window holds,
    // this one included.
    T push(uint32_t i, T value)
    {
        T &slot = ring_[std::size_t(i) * depth_ + row_];
        sums_[i] = sums_[i] - slot + value;
        slot = value;
        return sums_[i] / float(held());
    }

    // Ends a tick: the next pushes go to the following row.
    void advance()
    {
        row_ = (row_ + 1) % depth_;
        count_ = std::min(count_ + 1, depth_);
    }

    uint32_t depth() const { return depth_; }
    uint32_t width() const { return width_; }
    // Rows filled by earlier ticks.
    uint32_t count() const { return count_; }

private:
    uint32_t held() const { return std::min(count_ + 1, depth_); }

    uint32_t depth_ = 1;
    uint32_t width_ = 0;
    uint32_t count_ = 0;
    uint32_t row_ = 0;
    std::vector<T> ring_;
    std::vector<T> sums_;
};
