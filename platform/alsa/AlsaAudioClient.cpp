#include "platform/alsa/AlsaAudioClient.h"

#include "common/Log.h"
#include "common/RealTime.h"
#include "common/ThreadPriority.h"
#include "platform/Event.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <utility>

namespace platform::alsa {
namespace {

// The engine's period and the default period it reports: 10 ms.
constexpr RefTime enginePeriod = 100'000;
constexpr RefTime minimumPeriod = 30'000;
// ALSA's own buffer behind the client's, in engine periods. A measurement survives added latency
// but no dropout, so the engine keeps a generous margin against scheduling hiccups.
constexpr snd_pcm_uframes_t alsaBufferPeriods = 16;
// The engine wakes its user at least once per period even while the PCM does not move (a sound
// server that stalls for a moment): the user's thread must not take a stall for a dead device.
constexpr auto heartbeat = std::chrono::milliseconds(10);
constexpr int pollTimeoutMs = 10;
// After a wake-up that brought no frames (or, rendering, no room), the engine rests this long
// before it waits again.
constexpr auto idleWakeRest = std::chrono::milliseconds(2);
constexpr int maxPollDescriptors = 16;

uint32_t framesOf(RefTime duration, uint32_t rate)
{
    return uint32_t(duration * RefTime(rate) / refTimePerSecond);
}

int64_t ticksOf(int64_t frames, uint32_t rate)
{
    return frames * refTimePerSecond / int64_t(rate);
}

// When the status held: the device's stamp of its last position update where it gives one,
// else the moment the status was taken (a plugin's, whose delay is as of then).
QpcTime statusTime(const snd_pcm_status_t *status)
{
    snd_htimestamp_t t{};
    snd_pcm_status_get_htstamp(status, &t);
    if (t.tv_sec == 0 && t.tv_nsec == 0) {
        snd_timestamp_t coarse{};
        snd_pcm_status_get_tstamp(status, &coarse);
        t.tv_sec = coarse.tv_sec;
        t.tv_nsec = coarse.tv_usec * 1000;
    }
    return QpcTime(t.tv_sec) * QpcTime(refTimePerSecond) + QpcTime(t.tv_nsec / 100);
}

// The engine stands in for a system's audio engine, which runs ahead of every program: a
// real-time priority where the system grants one. Without it a busy machine can keep the
// engine from its PCM for so long that the sound server behind it runs dry, and the sound
// slips against its loopback.
void raiseToEnginePriority(pthread_t thread)
{
    if (const int e = realtime::raiseToAudioPriority(thread)) {
        static std::once_flag once;
        std::call_once(once, [e] {
            sntInfo(lcAlsa, "[ALSA]") << "the audio engine runs without real-time priority ("
                                      << strerror(e) << "): a busy machine may interrupt its sound";
        });
    }
}

} // namespace

AlsaAudioClient::AlsaAudioClient(EndpointInfo endpoint)
    : endpoint_(std::move(endpoint))
{ }

AlsaAudioClient::~AlsaAudioClient()
{
    stopEngine();
    if (pcm_) {
        snd_pcm_close(pcm_);
        AlsaEndpoints::setHeld(endpoint_, false);
    }
}

Result AlsaAudioClient::mixFormat(WaveFormat *format)
{
    return AlsaEndpoints::engineFormat(endpoint_, format);
}

Result AlsaAudioClient::devicePeriod(RefTime *defaultPeriod, RefTime *minimum)
{
    if (defaultPeriod)
        *defaultPeriod = enginePeriod;
    if (minimum)
        *minimum = minimumPeriod;
    return result::Ok;
}

Result AlsaAudioClient::initialize(ShareMode mode, uint32_t streamFlags, RefTime bufferDuration,
                                   RefTime, const WaveFormat &format)
{
    std::lock_guard lock(mutex_);
    if (initialized_)
        return result::AlreadyInitialized;
    if (mode != ShareMode::Shared)
        return result::ExclusiveModeNotAllowed;
    if (format.channels == 0 || format.samplesPerSec == 0
        || format.blockAlign != format.channels * 4)
        return result::InvalidArg;
    if (!format.isFloat32())
        return result::UnsupportedFormat;
    WaveFormat mix;
    if (const Result r = AlsaEndpoints::engineFormat(endpoint_, &mix); !succeeded(r))
        return r;
    if (format.samplesPerSec != mix.samplesPerSec && !(streamFlags & streamflags::AutoConvertPcm))
        return result::UnsupportedFormat;

    periodFrames_ = framesOf(enginePeriod, format.samplesPerSec);
    if (periodFrames_ == 0)
        return result::UnsupportedFormat;
    bufferFrames_ = std::max(framesOf(bufferDuration, format.samplesPerSec), 2 * periodFrames_);
    config_ = PcmConfig{format.samplesPerSec, format.channels, periodFrames_,
                        periodFrames_ * alsaBufferPeriods};
    // A sound server's plugin starts threads of its own for the PCM (its client's main loop,
    // which takes the server's timing reports), and they inherit the priority of the thread
    // that opens it: one a busy machine keeps waiting reports latencies that wander by tens of
    // milliseconds. The PCM is opened from a thread at the engine's priority.
    Result opened = result::Ok;
    std::thread([&] {
        raiseToEnginePriority(pthread_self());
        opened = openStreamPcm(endpoint_.pcmName, endpoint_.flow, &config_, &pcm_);
    }).join();
    if (!succeeded(opened))
        return opened;
    AlsaEndpoints::setHeld(endpoint_, true);
    timed_ = config_.timestamped && statusTellsTime();
    if (!timed_)
        sntInfo(lcAlsa, "[ALSA]")
                << endpoint_.pcmName
                << "tells no time with its status: its stream is timed by when its"
                << "blocks are handed over";
    streamFlags_ = streamFlags;
    ring_.assign(size_t(bufferFrames_) * format.channels, 0.0f);
    staging_.assign(ring_.size(), 0.0f);
    if (endpoint_.flow == DataFlow::Capture)
        packets_.assign(std::max<size_t>(2, bufferFrames_ / periodFrames_),
                        Packet{std::vector<float>(size_t(periodFrames_) * format.channels), 0, 0});
    initialized_.store(true);
    return result::Ok;
}

Result AlsaAudioClient::setEventHandle(std::shared_ptr<Event> event)
{
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return result::NotInitialized;
    if (!event)
        return result::InvalidArg;
    event_ = std::move(event);
    return result::Ok;
}

Result AlsaAudioClient::usable() const
{
    if (!initialized_)
        return result::NotInitialized;
    if (invalidated_.load())
        return result::DeviceInvalidated;
    return result::Ok;
}

Result AlsaAudioClient::bufferSize(uint32_t *frames)
{
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return result::NotInitialized;
    *frames = bufferFrames_;
    return result::Ok;
}

Result AlsaAudioClient::currentPadding(uint32_t *frames)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    if (endpoint_.flow == DataFlow::Render) {
        *frames = uint32_t(ringWritten_.load(std::memory_order_acquire)
                           - ringRead_.load(std::memory_order_acquire));
        return result::Ok;
    }
    const uint64_t read = PacketRead::from(packetRead_.load(std::memory_order_acquire)).index;
    *frames = uint32_t(packetsWritten_.load(std::memory_order_acquire) - read) * periodFrames_;
    return result::Ok;
}

Result AlsaAudioClient::deviceDelay(uint32_t *frames)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    *frames = deviceDelay_.load(std::memory_order_relaxed);
    return result::Ok;
}

bool AlsaAudioClient::statusTellsTime()
{
    snd_pcm_status_t *status = nullptr;
    snd_pcm_status_alloca(&status);
    if (snd_pcm_status(pcm_, status) < 0)
        return false;
    // A stamp on another clock than ours (or none) is no time to pair by.
    const auto apart = platform::timeOfQpc(statusTime(status)) - std::chrono::steady_clock::now();
    return std::chrono::abs(apart) < std::chrono::seconds(1);
}

std::optional<AlsaAudioClient::StatusTime> AlsaAudioClient::readStatus()
{
    if (!timed_)
        return std::nullopt;
    snd_pcm_status_t *status = nullptr;
    snd_pcm_status_alloca(&status);
    // Before the PCM runs, its delay does not yet hold what the device will add.
    if (snd_pcm_status(pcm_, status) < 0
        || snd_pcm_status_get_state(status) != SND_PCM_STATE_RUNNING)
        return std::nullopt;
    const QpcTime at = statusTime(status);
    if (at == 0)
        return std::nullopt;
    return StatusTime{at, int64_t(snd_pcm_status_get_delay(status))};
}

QpcTime AlsaAudioClient::captureTimeOfNextFrame()
{
    const std::optional<StatusTime> status = readStatus();
    if (!status)
        return 0;
    deviceDelay_.store(uint32_t(std::max<int64_t>(status->delay, 0)), std::memory_order_relaxed);
    return QpcTime(int64_t(status->at) - ticksOf(status->delay, config_.rate));
}

void AlsaAudioClient::noteRenderClock(uint64_t position)
{
    if (const std::optional<StatusTime> status = readStatus())
        renderClock_.store(RenderClock{
                position, QpcTime(int64_t(status->at) + ticksOf(status->delay, config_.rate))});
}

Result AlsaAudioClient::clock(uint64_t *position, QpcTime *qpcPosition)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    const RenderClock clock = renderClock_.load().value_or(RenderClock{});
    *position = clock.position;
    *qpcPosition = clock.qpc;
    return result::Ok;
}

void AlsaAudioClient::noteDeviceDelay()
{
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) == 0)
        deviceDelay_.store(uint32_t(std::max<snd_pcm_sframes_t>(delay, 0)),
                           std::memory_order_relaxed);
}

Result AlsaAudioClient::serviceFor(DataFlow flow) const
{
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return result::NotInitialized;
    return endpoint_.flow == flow ? result::Ok : result::WrongEndpointType;
}

Result AlsaAudioClient::renderClient(std::shared_ptr<RenderClient> *client)
{
    const Result r = serviceFor(DataFlow::Render);
    if (succeeded(r))
        *client = shared_from_this();
    return r;
}

Result AlsaAudioClient::captureClient(std::shared_ptr<CaptureClient> *client)
{
    const Result r = serviceFor(DataFlow::Capture);
    if (succeeded(r))
        *client = shared_from_this();
    return r;
}

Result AlsaAudioClient::start()
{
    std::lock_guard lock(mutex_);
    if (const Result r = usable(); !succeeded(r))
        return r;
    if (started_)
        return result::NotStopped;
    if ((streamFlags_ & streamflags::EventCallback) && !event_)
        return result::EventHandleNotSet;
    renderClock_.reset();
    running_.store(true);
    started_ = true;
    engine_ = std::thread([this] { runEngine(); });
    raiseToEnginePriority(engine_.native_handle());
    return result::Ok;
}

Result AlsaAudioClient::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (!initialized_)
            return result::NotInitialized;
    }
    stopEngine();
    return result::Ok;
}

void AlsaAudioClient::stopEngine()
{
    running_.store(false);
    if (engine_.joinable()) {
        engine_.join();
        logRecoveries();
    }
    std::lock_guard lock(mutex_);
    if (started_ && pcm_) {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }
    started_ = false;
}

Result AlsaAudioClient::buffer(uint32_t frames, uint8_t **data)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    const uint64_t fill = ringWritten_.load(std::memory_order_relaxed)
                          - ringRead_.load(std::memory_order_acquire);
    if (frames > bufferFrames_ - fill)
        return result::BufferTooLarge;
    stagingFrames_ = frames;
    *data = reinterpret_cast<uint8_t *>(staging_.data());
    return result::Ok;
}

Result AlsaAudioClient::releaseBuffer(uint32_t frames, uint32_t flags)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    if (frames > stagingFrames_)
        return result::InvalidSize;
    const uint32_t channels = config_.channels;
    const uint32_t capacity = bufferFrames_;
    // The room was there when the buffer was handed out; the engine only ever makes more.
    const uint64_t written = ringWritten_.load(std::memory_order_relaxed);
    uint32_t write = uint32_t(written % capacity);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t chunk = std::min(frames - done, capacity - write);
        float *to = ring_.data() + size_t(write) * channels;
        if (flags & bufferflags::Silent)
            std::fill_n(to, size_t(chunk) * channels, 0.0f);
        else
            std::copy_n(staging_.data() + size_t(done) * channels, size_t(chunk) * channels, to);
        done += chunk;
        write = (write + chunk) % capacity;
    }
    ringWritten_.store(written + frames, std::memory_order_release);
    stagingFrames_ = 0;
    return result::Ok;
}

Result AlsaAudioClient::nextPacketSize(uint32_t *frames)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    const uint64_t read = PacketRead::from(packetRead_.load(std::memory_order_acquire)).index;
    *frames = packetsWritten_.load(std::memory_order_acquire) > read ? periodFrames_ : 0;
    return result::Ok;
}

Result AlsaAudioClient::buffer(uint8_t **data, uint32_t *frames, uint32_t *flags,
                               uint64_t *devicePosition, QpcTime *qpcPosition)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    uint64_t word = packetRead_.load(std::memory_order_acquire);
    PacketRead read = PacketRead::from(word);
    if (read.held)
        return result::OutOfOrder;
    // Holding the oldest packet keeps the engine from dropping it; the engine may drop it just
    // before, and then the next one is the oldest.
    for (;;) {
        if (packetsWritten_.load(std::memory_order_acquire) == read.index) {
            *data = nullptr;
            *frames = 0;
            *flags = 0;
            *devicePosition = capturePosition_.load(std::memory_order_acquire);
            *qpcPosition = 0;
            return result::Ok;
        }
        PacketRead holding = read;
        holding.held = true;
        if (packetRead_.compare_exchange_weak(word, holding.word(), std::memory_order_acq_rel))
            break;
        read = PacketRead::from(word);
    }
    Packet &packet = packets_[read.index % packets_.size()];
    *data = reinterpret_cast<uint8_t *>(packet.samples.data());
    *frames = periodFrames_;
    *flags = packet.flags | (read.afterDrop ? bufferflags::DataDiscontinuity : 0);
    *devicePosition = packet.position;
    *qpcPosition = packet.qpc;
    return result::Ok;
}

Result AlsaAudioClient::releaseBuffer(uint32_t frames)
{
    if (const Result r = usable(); !succeeded(r))
        return r;
    // While the user holds a packet, only the user changes the read side.
    const PacketRead read = PacketRead::from(packetRead_.load(std::memory_order_acquire));
    if (!read.held)
        return result::OutOfOrder;
    if (frames != 0 && frames != periodFrames_)
        return result::InvalidSize;
    const PacketRead next = frames != 0 ? PacketRead{read.index + 1, false, false}
                                        : PacketRead{read.index, read.afterDrop, false};
    packetRead_.store(next.word(), std::memory_order_release);
    return result::Ok;
}

void AlsaAudioClient::signal()
{
    lastSignal_ = std::chrono::steady_clock::now();
    if (event_)
        event_->set();
}

void AlsaAudioClient::keepUserAwake()
{
    if (std::chrono::steady_clock::now() - lastSignal_ >= heartbeat)
        signal();
}

int AlsaAudioClient::waitForPcm()
{
    // One poll with a short timeout: snd_pcm_wait() may keep waiting as long as the PCM's
    // descriptors stir without making it ready, which a sound server's plugin can do for long.
    keepUserAwake();
    pollfd fds[maxPollDescriptors];
    const int count = snd_pcm_poll_descriptors(pcm_, fds, maxPollDescriptors);
    if (count <= 0)
        return count < 0 ? count : -EINVAL;
    const int ready = poll(fds, nfds_t(count), pollTimeoutMs);
    if (ready <= 0)
        return ready < 0 && errno != EINTR ? -errno : 0;
    unsigned short revents = 0;
    if (const int e = snd_pcm_poll_descriptors_revents(pcm_, fds, unsigned(count), &revents); e < 0)
        return e;
    if (revents & POLLERR) {
        switch (snd_pcm_state(pcm_)) {
        case SND_PCM_STATE_XRUN:
            return -EPIPE;
        case SND_PCM_STATE_SUSPENDED:
            return -ESTRPIPE;
        case SND_PCM_STATE_DISCONNECTED:
            return -ENODEV;
        default:
            break;
        }
    }
    return 0;
}

bool AlsaAudioClient::recover(int error)
{
    const int r = snd_pcm_recover(pcm_, error, 1);
    if (r < 0) {
        lostError_.store(r);
        invalidated_.store(true);
        signal();
        return false;
    }
    recoveries_.fetch_add(1);
    lastRecoveredError_.store(error);
    if (endpoint_.flow == DataFlow::Capture) {
        nextFlags_ |= bufferflags::DataDiscontinuity | bufferflags::TimestampError;
        snd_pcm_start(pcm_);
    }
    return true;
}

void AlsaAudioClient::logRecoveries()
{
    // A stream that could not be recovered has stopped: worth a line in any log.
    if (const int error = lostError_.exchange(0))
        sntWarning(lcAlsa, "[ALSA]")
                << "stream lost on" << endpoint_.pcmName << snd_strerror(error);
    if (const int count = recoveries_.exchange(0))
        sntDebug(lcAlsa, "[ALSA]") << "recovered" << count << "times on" << endpoint_.pcmName
                                   << "(last:" << snd_strerror(lastRecoveredError_.load()) << ")";
}

std::optional<uint64_t> AlsaAudioClient::takeRenderPeriod(float *out)
{
    const uint32_t channels = config_.channels;
    const uint64_t read = ringRead_.load(std::memory_order_relaxed);
    const uint32_t frames = uint32_t(
            std::min<uint64_t>(ringWritten_.load(std::memory_order_acquire) - read, periodFrames_));
    uint32_t from = uint32_t(read % bufferFrames_);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t chunk = std::min(frames - done, bufferFrames_ - from);
        std::copy_n(ring_.data() + size_t(from) * channels, size_t(chunk) * channels,
                    out + size_t(done) * channels);
        done += chunk;
        from = (from + chunk) % bufferFrames_;
    }
    ringRead_.store(read + frames, std::memory_order_release);
    // Where the user has not delivered, the engine plays silence.
    std::fill(out + size_t(frames) * channels, out + size_t(periodFrames_) * channels, 0.0f);
    return frames > 0 ? std::optional(read) : std::nullopt;
}

AlsaAudioClient::Step AlsaAudioClient::recovered(int error)
{
    return recover(error) ? Step::Retry : Step::Lost;
}

AlsaAudioClient::Step AlsaAudioClient::awaitFrames(uint32_t frames)
{
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail < 0)
        return recovered(int(avail));
    if (avail >= snd_pcm_sframes_t(frames))
        return Step::Ready;
    const auto waitBegan = std::chrono::steady_clock::now();
    if (const int waited = waitForPcm(); waited < 0)
        return recovered(waited);
    // A PCM whose descriptors wake the engine at once without frames or room must not keep it
    // spinning, least of all at a real-time priority.
    if (std::chrono::steady_clock::now() - waitBegan < idleWakeRest)
        std::this_thread::sleep_for(idleWakeRest);
    return Step::Retry;
}

AlsaAudioClient::Step AlsaAudioClient::afterTransfer(snd_pcm_sframes_t result)
{
    if (result == -EAGAIN)
        return Step::Retry;
    return result < 0 ? recovered(int(result)) : Step::Ready;
}

void AlsaAudioClient::runEngine()
{
    const bool render = endpoint_.flow == DataFlow::Render;
    pthread_setname_np(pthread_self(), render ? "alsa-render" : "alsa-capture");
    // A render engine fills the PCM's buffer before it starts; a capture engine takes what
    // came in while it was held up.
    pace_.start(config_.rate, 2 * uint64_t(config_.bufferFrames));
    if (render)
        renderLoop();
    else
        captureLoop();
}

void AlsaAudioClient::renderLoop()
{
    const uint32_t channels = config_.channels;
    std::vector<float> period(size_t(periodFrames_) * channels);
    uint32_t written = periodFrames_;
    std::optional<uint64_t> periodStart; // the stream position the period begins at
    lastSignal_ = std::chrono::steady_clock::now();
    const realtime::Section section;
    while (running_.load()) {
        const Step ready = awaitFrames(periodFrames_);
        if (ready == Step::Lost)
            return;
        if (ready == Step::Retry)
            continue;
        if (written == periodFrames_) {
            periodStart = takeRenderPeriod(period.data());
            written = 0;
        }
        if (written == 0 && periodStart)
            noteRenderClock(*periodStart);
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, period.data() + size_t(written) * channels,
                                                   periodFrames_ - written);
        const Step moved = afterTransfer(n);
        if (moved == Step::Lost)
            return;
        if (moved == Step::Retry)
            continue;
        pace_.moved(uint64_t(n));
        written += uint32_t(n);
        if (written == periodFrames_) {
            noteDeviceDelay();
            signal();
        }
    }
}

void AlsaAudioClient::pushPacket(const float *samples, QpcTime qpc)
{
    const uint64_t position = capturePosition_.load(std::memory_order_relaxed);
    capturePosition_.store(position + periodFrames_, std::memory_order_release);
    if (!makeRoomForPacket()) {
        nextFlags_ |= bufferflags::DataDiscontinuity;
        return;
    }
    const uint64_t written = packetsWritten_.load(std::memory_order_relaxed);
    Packet &packet = packets_[written % packets_.size()];
    std::copy_n(samples, packet.samples.size(), packet.samples.begin());
    packet.position = position;
    packet.qpc = qpc;
    packet.flags = std::exchange(nextFlags_, 0);
    packetsWritten_.store(written + 1, std::memory_order_release);
}

bool AlsaAudioClient::makeRoomForPacket()
{
    const uint64_t written = packetsWritten_.load(std::memory_order_relaxed);
    uint64_t word = packetRead_.load(std::memory_order_acquire);
    for (;;) {
        const PacketRead read = PacketRead::from(word);
        if (written - read.index < packets_.size())
            return true;
        if (read.held)
            return false;
        // The packet after the one dropped follows a gap; the user learns it when it takes it.
        const PacketRead dropped{read.index + 1, true, false};
        if (packetRead_.compare_exchange_weak(word, dropped.word(), std::memory_order_acq_rel))
            return true;
    }
}

void AlsaAudioClient::captureLoop()
{
    const uint32_t channels = config_.channels;
    std::vector<float> period(size_t(periodFrames_) * channels);
    uint32_t filled = 0;
    QpcTime packetTime = 0; // when the packet's first frame was captured
    if (const int e = snd_pcm_start(pcm_); e < 0 && !recover(e))
        return;
    lastSignal_ = std::chrono::steady_clock::now();
    const realtime::Section section;
    while (running_.load()) {
        // Waits, then reads whatever the PCM gives. Its available count is no guide: some
        // plugin chains (a LADSPA plugin over a sound server) count nothing until read.
        if (const int waited = waitForPcm(); waited < 0) {
            if (!recover(waited))
                return;
            continue;
        }
        if (filled == 0)
            packetTime = captureTimeOfNextFrame();
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, period.data() + size_t(filled) * channels,
                                                  periodFrames_ - filled);
        if (n == 0 || n == -EAGAIN) {
            // A PCM whose descriptors stay ready without frames must not keep us spinning.
            std::this_thread::sleep_for(idleWakeRest);
            continue;
        }
        if (n < 0) {
            if (!recover(int(n)))
                return;
            continue;
        }
        pace_.moved(uint64_t(n));
        filled += uint32_t(n);
        if (filled == periodFrames_) {
            pushPacket(period.data(), packetTime);
            filled = 0;
            signal();
        }
    }
}

} // namespace platform::alsa
