#pragma once

#include <chrono>
#include <cstdint>

namespace platform::alsa {

// Keeps an engine loop from moving frames faster than its stream's rate against the steady
// clock. A PCM that takes or gives frames without pause (ALSA's null PCM, a file) would
// otherwise keep the engine spinning, at a real-time priority at that. A PCM its device paces
// never meets the limit: it allows a buffer ahead and a device clock a hundredth fast.
class EnginePace
{
public:
    // From now on, at `rate` frames a second, with `aheadFrames` allowed ahead of the clock.
    void start(uint32_t rate, uint64_t aheadFrames);
    // `frames` more frames moved: waits while they are ahead of the clock by more than allowed.
    void moved(uint64_t frames);

private:
    using Clock = std::chrono::steady_clock;

    Clock::time_point start_;
    double rate_ = 0.0;
    double ahead_ = 0.0;
    uint64_t frames_ = 0;
};

} // namespace platform::alsa
