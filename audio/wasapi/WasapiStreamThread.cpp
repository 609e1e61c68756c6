#include "audio/wasapi/WasapiStreamThread.h"

#include "audio/Stream.h"
#include "audio/StreamTiming.h"
#include "audio/wasapi/WasapiResultCheck.h"
#include "common/Log.h"
#include "common/RealTime.h"
#include "platform/Event.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace audio::wasapi {
namespace {

StreamTiming::Clock::duration durationOf(int64_t frames, uint32_t rate)
{
    return std::chrono::duration_cast<StreamTiming::Clock::duration>(
            std::chrono::duration<double>(double(frames) / double(rate)));
}

} // namespace

StreamThread::StreamThread(std::shared_ptr<StreamContext> context)
    : context_(std::move(context))
{ }

void StreamThread::run()
{
    const bool render = context_->renderClient != nullptr;
    // Silent capture packets are written from here: a whole buffer of zeros, made before the
    // loop starts.
    if (!render)
        zeros_ = QByteArray(qsizetype(context_->bufferFrames) * context_->frameBytes, '\0');
    bool timedOut = false;
    {
        const realtime::Section section;
        while (context_->keepRunning.load()) {
            if (!waitForPeriod(&timedOut))
                break;
            if (!(render ? renderPeriod() : capturePackets()))
                break;
        }
    }
    if (timedOut)
        sntDebug("[WASAPI]") << "no period event within" << eventTimeoutMs
                             << "ms; the stream stays silent until it is closed";
    check(context_->audioClient->stop(), QStringLiteral("stop client"));
}

bool StreamThread::waitForPeriod(bool *timedOut)
{
    if (!context_->device->isOpen())
        return false;
    if (!context_->event->wait(eventTimeoutMs)) {
        *timedOut = true;
        return false;
    }
    // The teardown wakes us to leave at once.
    return context_->keepRunning.load();
}

bool StreamThread::renderPeriod()
{
    StreamContext &c = *context_;
    uint32_t padding = 0;
    if (!check(c.audioClient->currentPadding(&padding), QStringLiteral("GetCurrentPadding")))
        return false;
    uint32_t deviceDelay = 0;
    if (!check(c.audioClient->deviceDelay(&deviceDelay), QStringLiteral("GetDeviceDelay")))
        return false;
    const uint32_t free = c.bufferFrames - padding;
    uint8_t *data = nullptr;
    if (!check(c.renderClient->buffer(free, &data), QStringLiteral("GetBuffer")))
        return false;
    StreamTiming timing;
    if (!renderTiming(padding, deviceDelay, &timing))
        return false;
    const qint64 wanted = qint64(free) * c.frameBytes;
    qint64 got = 0;
    {
        const StreamTimingScope scope(timing);
        got = std::max<qint64>(0, c.device->read(reinterpret_cast<char *>(data), wanted));
    }
    // Whatever the source did not deliver plays as silence, never as stale buffer memory.
    if (got < wanted)
        std::memset(data + got, 0, size_t(wanted - got));
    if (!check(c.renderClient->releaseBuffer(free, 0), QStringLiteral("ReleaseBuffer")))
        return false;
    released_ += free;
    c.stream->countFrames(free);
    return true;
}

bool StreamThread::renderTiming(uint32_t padding, uint32_t deviceDelay, StreamTiming *timing)
{
    StreamContext &c = *context_;
    timing->at = StreamTiming::Clock::now();
    // The first frame read plays after what is queued here and in the device.
    timing->latencyFrames = int64_t(padding) + deviceDelay;
    timing->reachFrames = int64_t(c.bufferFrames) + deviceDelay;
    uint64_t position = 0;
    platform::QpcTime qpc = 0;
    if (!check(c.audioClient->clock(&position, &qpc), QStringLiteral("GetPosition")))
        return false;
    // The device's clock tells when one frame leaves; the first frame read follows it at the
    // stream's rate.
    if (qpc != 0 && c.sampleRate > 0)
        timing->deviceAt = platform::timeOfQpc(qpc)
                           + durationOf(int64_t(released_) - int64_t(position), c.sampleRate);
    return true;
}

bool StreamThread::captureTiming(platform::QpcTime qpc, StreamTiming *timing)
{
    StreamContext &c = *context_;
    uint32_t deviceDelay = 0;
    if (!check(c.audioClient->deviceDelay(&deviceDelay), QStringLiteral("GetDeviceDelay")))
        return false;
    // Without the device's clock, when the packet is handed on: its age is the input's own
    // latency, which then stays part of what is measured.
    timing->at = StreamTiming::Clock::now();
    timing->latencyFrames = 0;
    timing->reachFrames = int64_t(c.bufferFrames) + deviceDelay;
    if (qpc != 0)
        timing->deviceAt = platform::timeOfQpc(qpc);
    return true;
}

void StreamThread::writeSilence(qint64 bytes)
{
    for (qint64 done = 0; done < bytes && !zeros_.isEmpty();) {
        const qint64 n = std::min<qint64>(bytes - done, zeros_.size());
        context_->device->write(zeros_.constData(), n);
        done += n;
    }
}

void StreamThread::reportGap(uint32_t flags, uint64_t position)
{
    const bool flagged = flags & platform::bufferflags::DataDiscontinuity;
    if (expectedPosition_ && (flagged || position != *expectedPosition_)) {
        // Frames the device captured that never reached us, when the position can tell.
        const bool known = !(flags & platform::bufferflags::TimestampError)
                           && position >= *expectedPosition_;
        context_->stream->reportDiscontinuity(known ? qint64(position - *expectedPosition_) : -1);
    }
}

bool StreamThread::capturePackets()
{
    StreamContext &c = *context_;
    uint32_t packetFrames = 0;
    if (!check(c.captureClient->nextPacketSize(&packetFrames), QStringLiteral("GetNextPacketSize")))
        return false;
    // Drain everything waiting: after a late wake-up the backlog must not keep growing.
    while (packetFrames != 0) {
        uint8_t *data = nullptr;
        uint32_t frames = 0;
        uint32_t flags = 0;
        uint64_t position = 0;
        platform::QpcTime qpc = 0;
        if (!check(c.captureClient->buffer(&data, &frames, &flags, &position, &qpc),
                   QStringLiteral("GetBuffer")))
            return false;
        reportGap(flags, position);
        expectedPosition_ = position + frames;
        const qint64 bytes = qint64(frames) * c.frameBytes;
        StreamTiming timing;
        if (!captureTiming(qpc, &timing))
            return false;
        {
            const StreamTimingScope scope(timing);
            // A silent packet is time that passed in silence: it keeps its place in the timeline.
            if (flags & platform::bufferflags::Silent)
                writeSilence(bytes);
            else
                c.device->write(reinterpret_cast<const char *>(data), bytes);
        }
        if (!check(c.captureClient->releaseBuffer(frames), QStringLiteral("ReleaseBuffer")))
            return false;
        c.stream->countFrames(frames);
        if (!c.keepRunning.load())
            return false;
        if (!check(c.captureClient->nextPacketSize(&packetFrames),
                   QStringLiteral("GetNextPacketSize")))
            return false;
    }
    return true;
}

} // namespace audio::wasapi
