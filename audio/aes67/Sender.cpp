#include "audio/aes67/Sender.h"
#include "common/MainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace audio::aes67 {

namespace {

constexpr int streamRate = 48000;

} // namespace

Sender *Sender::instance()
{
    static const std::unique_ptr<Sender> sender = [] {
        std::unique_ptr<Sender> created(new Sender);
        // The first caller is usually a generator thread that ends long before the program;
        // the sender's own signals and timers belong in the main thread.
        snt::moveToMainThread(created.get());
        return created;
    }();
    return sender.get();
}

Sender::Sender()
    : ring_(std::make_unique<FrameRing>())
{ }

Sender::~Sender() = default;

void Sender::setRunning(bool running)
{
    if (running_.exchange(running, std::memory_order_acq_rel) != running)
        emit runningChanged(running);
}

void Sender::push(const float *data, qlonglong frames, int channels, int sampleRate)
{
    if (!isRunning())
        return;
    if (sampleRate != streamRate) {
        rateMismatch_.store(true, std::memory_order_relaxed);
        return;
    }
    if (!data || frames < 1 || channels < 1)
        return;
    if (writing_.exchange(true, std::memory_order_acquire)) {
        droppedFrames_.fetch_add(frames, std::memory_order_relaxed);
        return;
    }
    if (const qint64 dropped = ring_->write(data, frames, channels))
        droppedFrames_.fetch_add(dropped, std::memory_order_relaxed);
    writing_.store(false, std::memory_order_release);
}

} // namespace audio::aes67
