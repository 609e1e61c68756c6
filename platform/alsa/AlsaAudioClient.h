#pragma once

#include "common/SeqLock.h"
#include "platform/AudioLayer.h"
#include "platform/alsa/AlsaEndpoints.h"
#include "platform/alsa/AlsaPcm.h"
#include "platform/alsa/EnginePace.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform::alsa {

// A shared-mode audio client over one ALSA PCM. Initialize opens the PCM behind the plug layer
// (float32, the requested channels at the engine rate); Start runs an engine thread that moves
// one 10 ms period at a time between the PCM and the client's buffer, recovers from xruns and
// signals the event after every period (and once per period of waiting while the PCM stalls).
// Render: the user fills a ring of `bufferSize` frames
// (padding = frames not yet handed to ALSA); the engine plays silence where the ring runs dry.
// Capture: every period becomes a packet in a fixed ring made at Initialize; when the user falls
// behind by a whole buffer, the oldest packet the user is not reading is dropped and the next
// one carries the discontinuity flag and a device position past the frames dropped. After an
// xrun nobody knows how much the device lost: the next packet also carries the timestamp-error
// flag.
// Times come from the PCM's status, read with each transfer: its time stamp (on the steady
// clock) and its delay give when a capture packet's first frame was captured and when a render
// period's first frame will leave, as the device (or the sound server behind the PCM) tells
// it. A PCM that tells no time is named in the log when the client opens it, and its packets and
// periods carry none.
// The engine thread runs at a real-time priority where the system grants one (as a system's
// audio engine does), and so do the threads a sound server's plugin starts for the PCM (whose
// timing the engine reads); the engine allocates nothing and logs its recoveries only when it
// stops. It meets the stream's user, another audio thread, only in the two rings, which neither
// side locks: each ring has one writer and one reader, and a packet the user holds is never
// dropped under it.
// The lock is for Initialize, Start and Stop, which the engine never waits for.
class AlsaAudioClient
    : public AudioClient
    , public RenderClient
    , public CaptureClient
    , public std::enable_shared_from_this<AlsaAudioClient>
{
public:
    explicit AlsaAudioClient(EndpointInfo endpoint);
    ~AlsaAudioClient() override;

    Result mixFormat(WaveFormat *format) override;
    Result devicePeriod(RefTime *defaultPeriod, RefTime *minimumPeriod) override;
    Result initialize(ShareMode mode, uint32_t streamFlags, RefTime bufferDuration,
                      RefTime periodicity, const WaveFormat &format) override;
    Result setEventHandle(std::shared_ptr<Event> event) override;
    Result bufferSize(uint32_t *frames) override;
    Result currentPadding(uint32_t *frames) override;
    Result deviceDelay(uint32_t *frames) override;
    Result clock(uint64_t *position, QpcTime *qpcPosition) override;
    Result renderClient(std::shared_ptr<RenderClient> *client) override;
    Result captureClient(std::shared_ptr<CaptureClient> *client) override;
    Result start() override;
    Result stop() override;

    // RenderClient
    Result buffer(uint32_t frames, uint8_t **data) override;
    Result releaseBuffer(uint32_t frames, uint32_t flags) override;
    // CaptureClient
    Result nextPacketSize(uint32_t *frames) override;
    Result buffer(uint8_t **data, uint32_t *frames, uint32_t *flags, uint64_t *devicePosition,
                  QpcTime *qpcPosition) override;
    Result releaseBuffer(uint32_t frames) override;

private:
    struct Packet
    {
        std::vector<float> samples;
        uint64_t position = 0;
        QpcTime qpc = 0; // when its first frame was captured
        uint32_t flags = 0;
    };
    // Render: the frame `position` of the stream leaves the device at `qpc`.
    struct RenderClock
    {
        uint64_t position = 0;
        QpcTime qpc = 0;
    };
    // What the PCM's status tells: at `at`, `delay` frames lay between the next frame the
    // engine transfers and the device (render: queued before it; capture: captured since it).
    struct StatusTime
    {
        QpcTime at = 0;
        int64_t delay = 0;
    };
    // The capture ring's read side in one word, which the user and the engine both change:
    // the oldest packet not yet released, whether it follows a packet the engine dropped, and
    // whether the user holds it.
    struct PacketRead
    {
        uint64_t index = 0;
        bool afterDrop = false;
        bool held = false;

        static PacketRead from(uint64_t word)
        {
            return {word >> 2, (word & 2) != 0, (word & 1) != 0};
        }
        uint64_t word() const { return index << 2 | uint64_t(afterDrop) << 1 | uint64_t(held); }
    };

    Result usable() const;
    // Whether the render or capture service of this client may be handed out.
    Result serviceFor(DataFlow flow) const;
    void stopEngine();
    void runEngine();
    void renderLoop();
    void captureLoop();
    void logRecoveries();
    // Returns true when the PCM runs again; otherwise the client is invalidated.
    bool recover(int error);
    // What the engine thread does next: move frames now, try again, or give the device up.
    enum class Step { Ready, Retry, Lost };
    Step recovered(int error);
    // Ready once the PCM can move `frames` frames; waits a while for it otherwise.
    Step awaitFrames(uint32_t frames);
    Step afterTransfer(snd_pcm_sframes_t result);
    void signal();
    void keepUserAwake();
    // Waits up to a poll timeout for the PCM; 0 when it may be ready, a negative ALSA error
    // when it needs recovery.
    int waitForPcm();
    // Whether the PCM's status tells a time; asked once the PCM is open.
    bool statusTellsTime();
    // The PCM's status while it runs; none when it tells no time.
    std::optional<StatusTime> readStatus();
    // When the next frame a capture read takes was captured; 0 when the PCM cannot tell.
    QpcTime captureTimeOfNextFrame();
    // Render: the next frame written, the stream's frame `position`, leaves when the PCM says.
    void noteRenderClock(uint64_t position);
    // Fills one period from the user's ring; the stream position of its first frame, none when
    // the user gave nothing and the period is all silence.
    std::optional<uint64_t> takeRenderPeriod(float *out);
    void noteDeviceDelay();
    void pushPacket(const float *samples, QpcTime qpc);
    // Makes room for one packet: drops the oldest unless the user holds it. False when the
    // user holds it and the new packet has to go instead.
    bool makeRoomForPacket();

    const EndpointInfo endpoint_;
    mutable std::mutex mutex_;
    std::atomic<bool> initialized_{false};
    bool started_ = false;
    uint32_t streamFlags_ = 0;
    snd_pcm_t *pcm_ = nullptr;
    PcmConfig config_;
    bool timed_ = false; // the PCM's status tells a time
    uint32_t periodFrames_ = 0;
    uint32_t bufferFrames_ = 0;
    std::shared_ptr<Event> event_;
    std::thread engine_;
    std::atomic<bool> running_{false};
    std::atomic<bool> invalidated_{false};
    std::chrono::steady_clock::time_point lastSignal_; // engine thread only
    EnginePace pace_; // engine thread only
    // Render: frames written to the PCM that have not played; capture: frames captured that
    // the engine had not read; as the engine thread last saw it.
    std::atomic<uint32_t> deviceDelay_{0};
    realtime::SeqLock<RenderClock> renderClock_;

    // Render: frame n of the stream lives at n % bufferFrames_; the user writes, the engine
    // reads.
    std::vector<float> ring_;
    std::atomic<uint64_t> ringWritten_{0};
    std::atomic<uint64_t> ringRead_{0};
    std::vector<float> staging_; // the user's
    uint32_t stagingFrames_ = 0; // the user's

    // Capture: packet n lives at n % packets_.size(); the engine writes, the user reads.
    std::vector<Packet> packets_;
    std::atomic<uint64_t> packetsWritten_{0};
    std::atomic<uint64_t> packetRead_{0}; // a PacketRead word
    uint32_t nextFlags_ = 0; // the engine's: the flags of the next packet it writes
    // Frames captured, those dropped included; written by the engine only.
    std::atomic<uint64_t> capturePosition_{0};

    // What the engine thread met, logged once it has stopped.
    std::atomic<int> recoveries_{0};
    std::atomic<int> lastRecoveredError_{0};
    std::atomic<int> lostError_{0};
};

} // namespace platform::alsa
