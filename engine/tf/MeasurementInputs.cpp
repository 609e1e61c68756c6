#include "engine/tf/MeasurementInputs.h"

#include <thread>

namespace {
// Losses waiting for the consumer; more than this between two ticks count as one of unknown
// place.
constexpr std::size_t lossCapacity = 256;
} // namespace

// A producer inside the inputs: counted while it is in, admitted only while they are open.
class MeasurementInputs::Entry
{
public:
    Entry(std::atomic<int> &inside, const std::atomic<bool> &open)
        : inside_(inside)
    {
        inside_.fetch_add(1);
        admitted_ = open.load();
    }
    ~Entry() { inside_.fetch_sub(1); }
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;
    explicit operator bool() const { return admitted_; }

private:
    std::atomic<int> &inside_;
    bool admitted_ = false;
};

MeasurementInputs::MeasurementInputs(std::size_t capacity)
    : pairs_(capacity)
    , losses_(lossCapacity)
    , loopback_(capacity)
{ }

void MeasurementInputs::open()
{
    captureAnchor_.reset();
    loopbackAnchor_.reset();
    open_.store(true);
}

void MeasurementInputs::close()
{
    open_.store(false);
    while (captureInside_.load() > 0 || renderInside_.load() > 0)
        std::this_thread::yield();
}

void MeasurementInputs::writePairs(const float *data, const float *reference, std::size_t count)
{
    const Entry entry(captureInside_, open_);
    if (!entry || count == 0)
        return;
    if (captureBusy_.exchange(true, std::memory_order_acquire)) {
        unplacedLosses_.fetch_add(count);
        return;
    }
    // Pairs that found the ring full are recorded as a loss before the next pair stored, where
    // the gap really is.
    if (pendingLoss_ > 0 && losses_.push(Loss{pairs_.written(), int64_t(pendingLoss_)}))
        pendingLoss_ = 0;
    captureAnchor_.takeBlock(pairs_.written());
    const std::size_t stored = pairs_.pushGenerated(count, [data, reference](std::size_t i) {
        return Pair{data[i], reference[i]};
    });
    pendingLoss_ += count - stored;
    captureBusy_.store(false, std::memory_order_release);
}

void MeasurementInputs::writeLoss(int64_t frames)
{
    const Entry entry(captureInside_, open_);
    if (!entry)
        return;
    if (captureBusy_.exchange(true, std::memory_order_acquire)) {
        unplacedLosses_.fetch_add(1);
        return;
    }
    if (!losses_.push(Loss{pairs_.written(), frames}))
        unplacedLosses_.fetch_add(1);
    captureBusy_.store(false, std::memory_order_release);
}

void MeasurementInputs::writeLoopback(const float *samples, std::size_t count)
{
    const Entry entry(renderInside_, open_);
    if (!entry || count == 0)
        return;
    loopbackAnchor_.takeSample(loopback_.written());
    if (const std::size_t stored = loopback_.push(samples, count); stored < count)
        loopbackLost_.fetch_add(count - stored, std::memory_order_release);
}

void MeasurementInputs::discardPairs()
{
    pairs_.discard();
    losses_.discard();
    unplacedLosses_.store(0);
}

void MeasurementInputs::discardLoopback()
{
    loopback_.discard();
    loopbackLostSeen_ = loopbackLost_.load(std::memory_order_acquire);
}
