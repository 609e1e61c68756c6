#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>

namespace Container {

// An owned, fixed-length buffer for per-bin and per-sample state. Its length changes only through
// resize(): a different count drops the contents and starts from zeros, the same count keeps
// them, so code that resizes "to be sure" on every tick never loses state or allocates.
template<typename T>
class array
{
public:
    array() = default;
    array(std::size_t count, const T &fill)
        : data_(std::make_unique<T[]>(count))
        , size_(count)
    {
        std::fill_n(data_.get(), count, fill);
    }
    array(const array &other)
        : array(other.size_, T{})
    {
        std::copy_n(other.data_.get(), size_, data_.get());
    }
    array(array &&) noexcept = default;
    array &operator=(const array &other)
    {
        if (this != &other) {
            resize(other.size_);
            std::copy_n(other.data_.get(), size_, data_.get());
        }
        return *this;
    }
    array &operator=(array &&) noexcept = default;

    void resize(std::size_t count)
    {
        if (count == size_)
            return;
        data_ = count ? std::make_unique<T[]>(count) : nullptr; // value-initialised: zeros
        size_ = count;
    }
    void fill(const T &value) { std::fill_n(data_.get(), size_, value); }

    std::size_t size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    T *data() { return data_.get(); }
    const T *data() const { return data_.get(); }
    T &operator[](std::size_t i) { return data_[i]; }
    const T &operator[](std::size_t i) const { return data_[i]; }
    T *begin() { return data_.get(); }
    T *end() { return data_.get() + size_; }
    const T *begin() const { return data_.get(); }
    const T *end() const { return data_.get() + size_; }

private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
};

} // namespace Container
