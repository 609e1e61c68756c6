#pragma once

#include "platform/asio/AsioDriver.h"
#include "platform/asio/BufferHalves.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <jack/jack.h>
#include <vector>

namespace platform::jack {

// A driver over one JACK server. Its channels are the server's physical ports (capture ports
// are inputs, playback ports outputs), all 32-bit float, at the server's rate and period. Buffer
// creation registers one port of ours per channel ("in_1", "out_1", ...); starting activates
// the client and connects each port to its physical port. Every period the process callback
// copies the input ports into the current half, calls the host, and copies the output half to
// the output ports. A vanished server or a new period size asks the host for a reset. Stopping
// from another thread waits for a period inside the host to return before JACK ends the thread.
class JackDriver : public asio::Driver
{
public:
    static constexpr const char *clientName = "Sonetra";

    explicit JackDriver(QString server);
    ~JackDriver() override;

    asio::Error init() override;
    asio::Error exit() override;
    asio::Error start() override;
    asio::Error stop() override;
    asio::Error channels(int *inputs, int *outputs) override;
    asio::Error bufferSize(int *minimum, int *maximum, int *preferred, int *granularity) override;
    asio::Error sampleRate(double *rate) override;
    asio::Error setSampleRate(double rate) override;
    asio::Error channelInfo(asio::ChannelInfo *info) override;
    asio::Error createBuffers(asio::BufferInfo *infos, int count, int frames,
                              asio::HostCallbacks *callbacks) override;
    asio::Error disposeBuffers() override;
    asio::Error outputReady() override;
    asio::Error samplePosition(int64_t *position, int64_t *systemTimeNs) override;

private:
    struct Channel
    {
        jack_port_t *port = nullptr;
        bool isInput = false;
        int channel = 0;
        std::array<void *, 2> halves{nullptr, nullptr};
    };

    static int onProcess(jack_nframes_t frames, void *self);
    static int onSampleRate(jack_nframes_t rate, void *self);
    static int onBufferSize(jack_nframes_t frames, void *self);
    static void onShutdown(jack_status_t code, const char *reason, void *self);
    void process(jack_nframes_t frames);
    void silenceOutputs(jack_nframes_t frames);
    void connectToPhysicalPorts();
    void deactivate();
    bool enterHost();
    void waitForPeriodToLeaveHost() const;
    void askForReset();
    void waitForServerToLeave() const;
    QStringList physicalPorts(unsigned long direction) const;

    const QString server_;
    jack_client_t *client_ = nullptr;
    QStringList capturePorts_;
    QStringList playbackPorts_;
    std::vector<Channel> channels_;
    asio::BufferHalves halves_;
    std::atomic<int> frames_{0};
    int index_ = 0; // the half of the next period; process thread only
    bool active_ = false; // activated at the server; host thread only
    std::atomic<asio::HostCallbacks *> callbacks_{nullptr};
    std::atomic<bool> running_{false};
    // Set while a period is inside the host (process thread; read by the host thread).
    std::atomic<bool> inHost_{false};
    std::atomic<bool> serverGone_{false};
    std::atomic<uint32_t> rate_{0};
    std::atomic<int64_t> position_{0};
};

} // namespace platform::jack
