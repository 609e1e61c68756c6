#include "platform/alsa/EnginePace.h"

#include <thread>

namespace platform::alsa {
namespace {
// How much faster than its nominal rate a device's clock may run.
constexpr double fastestClock = 1.01;
} // namespace

void EnginePace::start(uint32_t rate, uint64_t aheadFrames)
{
    start_ = Clock::now();
    rate_ = double(rate) * fastestClock;
    ahead_ = double(aheadFrames);
    frames_ = 0;
}

void EnginePace::moved(uint64_t frames)
{
    frames_ += frames;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double early = double(frames_) - ahead_ - elapsed * rate_;
    if (rate_ > 0.0 && early > 0.0)
        std::this_thread::sleep_for(std::chrono::duration<double>(early / rate_));
}

} // namespace platform::alsa
