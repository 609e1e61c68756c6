#pragma once

#include "engine/dsp/Complex.h"

#include <algorithm>
#include <complex>
#include <cstdint>
#include <vector>

// Per-column moving averages over the last `depth` ticks, kept as running sums so that one tick
// costs one subtraction and one addition per column. The ring holds column i of row r at
// r · width + i, so a tick reads and writes one row from one end to the other.
//
// The sums are kept in double and each column's sum is computed afresh from the ring once per
// `depth` ticks: a single loud value (a bin whose reference all but vanished for one tick) must
// not leave its rounding error in a sum after it has left the window.
template<typename T>
class MovingWindow
{
    static double widened(float v) { return v; }
    static std::complex<double> widened(const Complex &c) { return {c.re, c.im}; }
    static float mean(double sum, uint32_t n) { return float(sum / n); }
    static Complex mean(const std::complex<double> &sum, uint32_t n)
    {
        return Complex(float(sum.real() / n), float(sum.imag() / n));
    }
    using Sum = decltype(widened(T{}));

public:
    // Reallocates for the new shape and forgets every value.
    void resize(uint32_t depth, uint32_t width)
    {
        depth_ = std::max<uint32_t>(depth, 1);
        width_ = width;
        ring_.assign(std::size_t(depth_) * width_, T{});
        sums_.assign(width_, Sum{});
        count_ = 0;
        row_ = 0;
        nextResummed_ = 0;
    }

    void clear() { resize(depth_, width_); }

    // Stores this tick's value of column i and returns the mean of the values the window holds,
    // this one included.
    T push(uint32_t i, T value)
    {
        T &slot = ring_[std::size_t(row_) * width_ + i];
        sums_[i] += widened(value) - widened(slot);
        slot = value;
        return mean(sums_[i], held());
    }

    // Ends a tick: the next pushes go to the following row, and the next share of the columns
    // gets its sum afresh.
    void advance()
    {
        row_ = (row_ + 1) % depth_;
        count_ = std::min(count_ + 1, depth_);
        resumNextColumns();
    }

    uint32_t depth() const { return depth_; }
    uint32_t width() const { return width_; }
    // Rows filled by earlier ticks.
    uint32_t count() const { return count_; }

private:
    uint32_t held() const { return std::min(count_ + 1, depth_); }

    void resumNextColumns()
    {
        const uint32_t share = (width_ + depth_ - 1) / depth_;
        const uint32_t end = std::min(width_, nextResummed_ + share);
        for (uint32_t i = nextResummed_; i < end; ++i) {
            Sum sum{};
            for (uint32_t r = 0; r < depth_; ++r)
                sum += widened(ring_[std::size_t(r) * width_ + i]);
            sums_[i] = sum;
        }
        nextResummed_ = end < width_ ? end : 0;
    }

    uint32_t depth_ = 1;
    uint32_t width_ = 0;
    uint32_t count_ = 0;
    uint32_t row_ = 0;
    uint32_t nextResummed_ = 0;
    std::vector<T> ring_;
    std::vector<Sum> sums_;
};
