#include "audio/asio/AsioHandOff.h"

#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace audio::asio {

HandOff::HandOff()
    : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{ }

HandOff::~HandOff()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void HandOff::resize(qsizetype floats, qsizetype blocks)
{
    storage_.assign(std::size_t(floats * blocks), 0.0f);
    floats_ = floats;
    slots_ = blocks;
    written_.store(0);
    read_.store(0);
}

void HandOff::wake()
{
    const uint64_t one = 1;
    // A full counter still leaves the descriptor readable, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HandOff::clearWake()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

void HandOff::pushBlock(const float *block)
{
    const qint64 written = written_.load(std::memory_order_relaxed);
    if (slots_ == 0 || written - read_.load(std::memory_order_acquire) >= slots_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::memcpy(storage_.data() + (written % slots_) * floats_, block,
                    std::size_t(floats_) * sizeof(float));
        written_.store(written + 1, std::memory_order_release);
    }
    wake();
}

const float *HandOff::frontBlock() const
{
    const qint64 read = read_.load(std::memory_order_relaxed);
    if (read == written_.load(std::memory_order_acquire))
        return nullptr;
    return storage_.data() + (read % slots_) * floats_;
}

void HandOff::popBlock()
{
    read_.fetch_add(1, std::memory_order_release);
}

void HandOff::requestStop(int unknownSampleType, bool inputSide)
{
    unknownSampleType_.store(unknownSampleType);
    unknownOnInputSide_.store(inputSide);
    stopRequested_.store(true);
    wake();
}

std::optional<HandOff::StopRequest> HandOff::takeStopRequest()
{
    if (!stopRequested_.exchange(false))
        return std::nullopt;
    return StopRequest{unknownSampleType_.exchange(0), unknownOnInputSide_.load()};
}

void HandOff::noteSampleRate(uint32_t rate)
{
    rate_.store(rate);
    wake();
}

void HandOff::noteFailure(Notice notice, platform::asio::Error error)
{
    failures_[int(notice)].store(error);
    wake();
}

platform::asio::Error HandOff::takeFailure(Notice notice)
{
    return failures_[int(notice)].exchange(0);
}

} // namespace audio::asio
