#include "engine/tf/LoopbackQueue.h"

#include <algorithm>
#include <cmath>

void LoopbackQueue::setCapacity(std::size_t samples)
{
    buffer_.assign(std::max<std::size_t>(samples, 1), 0.0f);
    clear();
}

void LoopbackQueue::clear()
{
    head_ = 0;
    size_ = 0;
    phase_ = 0.0;
    skipping_ = 0;
}

void LoopbackQueue::push(float sample)
{
    if (buffer_.empty())
        return;
    if (skipping_ > 0) {
        --skipping_;
        return;
    }
    if (size_ == buffer_.size()) {
        dropFront(1);
        phase_ = std::max(0.0, phase_ - 1.0);
    }
    buffer_[(head_ + size_) % buffer_.size()] = sample;
    ++size_;
}

float LoopbackQueue::next(double ratio)
{
    if (size_ == 0)
        return 0.0f;
    if (std::abs(ratio - 1.0) < 1e-6) {
        const float out = at(0);
        dropFront(1);
        phase_ = 0.0;
        return out;
    }
    if (phase_ < 0.0)
        phase_ = 0.0;
    const double whole = std::floor(phase_);
    if (whole >= double(size_)) {
        clear();
        return 0.0f;
    }
    const auto i = std::size_t(whole);
    const float s0 = at(i);
    const float s1 = at(std::min(size_ - 1, i + 1));
    const float out = float(s0 + (double(s1) - s0) * (phase_ - whole));
    phase_ += ratio;
    const std::size_t passed = std::min(size_, std::size_t(std::floor(phase_)));
    dropFront(passed);
    phase_ -= double(passed);
    return out;
}

void LoopbackQueue::skip(double samples)
{
    phase_ = std::max(0.0, phase_) + std::max(0.0, samples);
    const double whole = std::floor(phase_);
    const std::size_t now = std::min(size_, std::size_t(whole));
    dropFront(now);
    skipping_ += std::size_t(whole) - now;
    phase_ -= whole;
}

void LoopbackQueue::shift(double samples)
{
    if (samples >= 0.0) {
        skip(samples);
        return;
    }
    const std::size_t silence
            = std::min(std::size_t(std::llround(-samples)), buffer_.size() - size_);
    head_ = (head_ + buffer_.size() - silence) % buffer_.size();
    for (std::size_t i = 0; i < silence; ++i)
        buffer_[(head_ + i) % buffer_.size()] = 0.0f;
    size_ += silence;
}

void LoopbackQueue::dropFront(std::size_t count)
{
    count = std::min(count, size_);
    head_ = (head_ + count) % buffer_.size();
    size_ -= count;
}
