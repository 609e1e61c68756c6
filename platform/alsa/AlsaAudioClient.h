#pragma once

#include "platform/AudioLayer.h"
#include "platform/alsa/AlsaEndpoints.h"
#include "platform/alsa/AlsaPcm.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
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
// behind by a whole buffer, the oldest packets are dropped and the next one carries the
// discontinuity flag and a device position past the frames dropped. After an xrun nobody knows
// how much the device lost: the next packet also carries the timestamp-error flag.
// The engine thread allocates nothing and logs its recoveries only when it stops. Its lock is
// shared with the stream's user, another audio thread, for a copy of one period at most; the
// GUI thread takes it only while the engine does not run.
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
    Result renderClient(std::shared_ptr<RenderClient> *client) override;
    Result captureClient(std::shared_ptr<CaptureClient> *client) override;
    Result start() override;
    Result stop() override;

    // RenderClient
    Result buffer(uint32_t frames, uint8_t **data) override;
    Result releaseBuffer(uint32_t frames, uint32_t flags) override;
    // CaptureClient
    Result nextPacketSize(uint32_t *frames) override;
    Result buffer(uint8_t **data, uint32_t *frames, uint32_t *flags,
                  uint64_t *devicePosition) override;
    Result releaseBuffer(uint32_t frames) override;

private:
    struct Packet
    {
        std::vector<float> samples;
        uint64_t position = 0;
        uint32_t flags = 0;
    };

    Result usable() const; // requires the mutex
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
    void takeRenderPeriod(float *out);
    void noteDeviceDelay();
    void pushPacket(const float *samples);
    // Frees the slot of the oldest packet the user is not reading.
    void dropOldestPacket();

    const EndpointInfo endpoint_;
    mutable std::mutex mutex_;
    bool initialized_ = false;
    bool started_ = false;
    uint32_t streamFlags_ = 0;
    snd_pcm_t *pcm_ = nullptr;
    PcmConfig config_;
    uint32_t periodFrames_ = 0;
    uint32_t bufferFrames_ = 0;
    std::shared_ptr<Event> event_;
    std::thread engine_;
    std::atomic<bool> running_{false};
    std::atomic<bool> invalidated_{false};
    std::chrono::steady_clock::time_point lastSignal_; // engine thread only
    // Render: frames written to the PCM that have not played, as the engine thread last saw it.
    std::atomic<uint32_t> deviceDelay_{0};

    std::vector<float> ring_;
    uint32_t ringRead_ = 0;
    uint32_t ringFill_ = 0;
    std::vector<float> staging_;
    uint32_t stagingFrames_ = 0;

    std::vector<Packet> packets_;
    std::size_t packetHead_ = 0; // the oldest packet
    std::size_t packetCount_ = 0;
    bool packetHeld_ = false;
    uint32_t nextFlags_ = 0;
    uint64_t capturePosition_ = 0; // engine thread: frames captured, those dropped included

    // What the engine thread met, logged once it has stopped.
    std::atomic<int> recoveries_{0};
    std::atomic<int> lastRecoveredError_{0};
    std::atomic<int> lostError_{0};
};

} // namespace platform::alsa
