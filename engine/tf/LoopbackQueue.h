#pragma once

#include <cstddef>
#include <vector>

// The generator's looped-back samples waiting to be paired with input samples. A fixed ring
// allocated once per capacity, so the render thread that appends never allocates. When the
// loopback and input rates differ, samples are read with linear interpolation at a fractional
// phase that advances by the rate ratio per input sample.
class LoopbackQueue
{
public:
    // Reallocates to hold `samples` values and empties the queue.
    void setCapacity(std::size_t samples);
    std::size_t capacity() const { return buffer_.size(); }
    std::size_t size() const { return size_; }
    double phase() const { return phase_; }

    // Empties the queue and restarts the phase.
    void clear();
    // Appends one sample; a full queue loses its oldest sample and the phase follows it.
    void push(float sample);
    // The next reference sample for one input sample; `ratio` is loopback rate / input rate.
    // An empty queue yields 0.
    float next(double ratio);
    // Passes over `samples` samples (a fraction moves the phase), as many as are queued now and
    // the rest as they arrive: the input lost the frames they belong to.
    void skip(double samples);
    // Moves the reference against the input: a positive count skips that many samples, a
    // negative one puts that many samples of silence (as far as there is room) before the queue.
    void shift(double samples);

private:
    float at(std::size_t i) const { return buffer_[(head_ + i) % buffer_.size()]; }
    void dropFront(std::size_t count);

    std::vector<float> buffer_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    double phase_ = 0.0;
    std::size_t skipping_ = 0; // samples still to pass over as they arrive
};
