#include "platform/jack/JackDriver.h"

#include "common/Log.h"
#include "platform/jack/JackServers.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstring>
#include <mutex>

namespace platform::jack {
namespace {

using namespace asio::error;

// True on the process thread while it runs a period: stop() must not deactivate from there.
thread_local bool insideProcess = false;

void logJack(const char *text)
{
    sntDebug(lcJack, "[JACK]") << text;
}

// The library prints its own complaints (a server that is not there, a refused connection) on
// stderr; they belong in the program's log.
void routeLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&logJack);
        jack_set_info_function(&logJack);
    });
}

QString shortName(const QString &port)
{
    return port.mid(port.indexOf(QLatin1Char(':')) + 1);
}

} // namespace

JackDriver::JackDriver(QString server)
    : server_(std::move(server))
{ }

JackDriver::~JackDriver()
{
    exit();
}

asio::Error JackDriver::init()
{
    if (client_)
        return Ok;
    routeLibraryMessages();
    jack_status_t status{};
    const QByteArray server = server_.toUtf8();
    client_ = jack_client_open(clientName, jack_options_t(JackNoStartServer | JackServerName),
                               &status, server.constData());
    if (!client_)
        return NotPresent;
    rate_.store(jack_get_sample_rate(client_));
    capturePorts_ = physicalPorts(JackPortIsOutput);
    playbackPorts_ = physicalPorts(JackPortIsInput);
    jack_set_process_callback(client_, &JackDriver::onProcess, this);
    jack_set_sample_rate_callback(client_, &JackDriver::onSampleRate, this);
    jack_set_buffer_size_callback(client_, &JackDriver::onBufferSize, this);
    jack_on_info_shutdown(client_, &JackDriver::onShutdown, this);
    return Ok;
}

QStringList JackDriver::physicalPorts(unsigned long direction) const
{
    QStringList names;
    const char **ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | direction);
    for (const char **p = ports; p && *p; ++p)
        names.append(QString::fromUtf8(*p));
    jack_free(ports);
    return names;
}

asio::Error JackDriver::exit()
{
    const bool gone = client_ && serverGone_.load();
    if (gone)
        waitForServerToLeave();
    disposeBuffers();
    const QByteArray name = client_ ? QByteArray(jack_get_client_name(client_)) : QByteArray();
    if (client_)
        jack_client_close(client_);
    client_ = nullptr;
    // Our client's semaphore is the server's to remove; one that went away leaves it behind.
    if (gone)
        QFile::remove(clientSemaphore(server_, QString::fromUtf8(name)));
    return Ok;
}

void JackDriver::waitForServerToLeave() const
{
    // A server that is shutting down still writes to its clients; one that closed its
    // connection by then ends it by a broken pipe before it has unregistered from JACK's
    // machine-wide table of servers, whose few places then stay taken. It stops listening and
    // removes its socket file late in its shutdown, and writes its last notes to clients a
    // little after that. A server that was killed leaves the file with nobody listening on it:
    // there is nothing to wait for.
    constexpr int stepMs = 100;
    constexpr int longestMs = 3000;
    const QString socket = serverSocket(server_);
    for (int waited = 0; waited < longestMs && isListening(socket); waited += stepMs)
        QThread::msleep(stepMs);
    if (!QFileInfo::exists(socket))
        QThread::msleep(500);
}

asio::Error JackDriver::channels(int *inputs, int *outputs)
{
    if (!client_)
        return NotPresent;
    *inputs = int(capturePorts_.size());
    *outputs = int(playbackPorts_.size());
    return Ok;
}

asio::Error JackDriver::bufferSize(int *minimum, int *maximum, int *preferred, int *granularity)
{
    if (!client_)
        return NotPresent;
    *minimum = *maximum = *preferred = int(jack_get_buffer_size(client_));
    *granularity = 0;
    return Ok;
}

asio::Error JackDriver::sampleRate(double *rate)
{
    if (!client_)
        return NotPresent;
    *rate = rate_.load();
    return Ok;
}

asio::Error JackDriver::setSampleRate(double rate)
{
    // The server's rate is fixed while it runs; only that rate is accepted.
    if (!client_)
        return NotPresent;
    return rate == double(rate_.load()) ? Ok : NoClock;
}

asio::Error JackDriver::channelInfo(asio::ChannelInfo *info)
{
    if (!client_)
        return NotPresent;
    const QStringList &ports = info->isInput ? capturePorts_ : playbackPorts_;
    if (info->channel < 0 || info->channel >= ports.size())
        return InvalidParameter;
    info->type = asio::SampleType::Float32;
    info->name = shortName(ports[info->channel]);
    return Ok;
}

asio::Error JackDriver::createBuffers(asio::BufferInfo *infos, int count, int frames,
                                      asio::HostCallbacks *callbacks)
{
    if (!client_)
        return NotPresent;
    disposeBuffers();
    if (frames != int(jack_get_buffer_size(client_)) || !callbacks)
        return InvalidMode;
    for (int i = 0; i < count; ++i) {
        asio::BufferInfo &info = infos[i];
        const QStringList &ports = info.isInput ? capturePorts_ : playbackPorts_;
        if (info.channel < 0 || info.channel >= ports.size()) {
            disposeBuffers();
            return InvalidParameter;
        }
        const QByteArray name = QStringLiteral("%1_%2")
                                        .arg(info.isInput ? "in" : "out")
                                        .arg(info.channel + 1)
                                        .toUtf8();
        jack_port_t *port
                = jack_port_register(client_, name.constData(), JACK_DEFAULT_AUDIO_TYPE,
                                     info.isInput ? JackPortIsInput : JackPortIsOutput, 0);
        if (!port) {
            disposeBuffers();
            return NoMemory;
        }
        halves_.assign(&info, asio::SampleType::Float32, frames);
        channels_.push_back({port, info.isInput, info.channel, info.halves});
    }
    frames_.store(frames);
    index_ = 0;
    callbacks_.store(callbacks);
    return Ok;
}

asio::Error JackDriver::disposeBuffers()
{
    deactivate();
    callbacks_.store(nullptr);
    // A server that went away has dropped our ports with us.
    if (!serverGone_.load())
        for (const Channel &c : channels_)
            jack_port_unregister(client_, c.port);
    channels_.clear();
    halves_.clear();
    frames_.store(0);
    return Ok;
}

asio::Error JackDriver::start()
{
    if (!client_)
        return NotPresent;
    if (channels_.empty())
        return InvalidMode;
    running_.store(true);
    if (!active_) {
        if (jack_activate(client_) != 0) {
            running_.store(false);
            return HardwareMalfunction;
        }
        active_ = true;
        connectToPhysicalPorts();
    }
    return Ok;
}

void JackDriver::connectToPhysicalPorts()
{
    for (const Channel &c : channels_) {
        const QByteArray ours = jack_port_name(c.port);
        if (c.isInput)
            jack_connect(client_, capturePorts_[c.channel].toUtf8().constData(), ours.constData());
        else
            jack_connect(client_, ours.constData(), playbackPorts_[c.channel].toUtf8().constData());
    }
}

asio::Error JackDriver::stop()
{
    if (!client_)
        return NotPresent;
    running_.store(false);
    // The server cannot take a client out of its graph from that client's own process
    // thread; deactivation waits for the next stop, disposal or exit from another thread.
    if (!insideProcess)
        deactivate();
    return Ok;
}

void JackDriver::deactivate()
{
    running_.store(false);
    if (active_) {
        waitForPeriodToLeaveHost();
        if (!serverGone_.load())
            jack_deactivate(client_);
    }
    active_ = false;
}

void JackDriver::waitForPeriodToLeaveHost() const
{
    // JACK cancels a client's process thread when it deactivates or closes the client, wherever
    // that thread is, and at once: a period cut off inside the host would keep whatever the host
    // held (a stream's lock) taken for good. No period enters once running_ is cleared, and one
    // inside ends soon: the host's period never waits.
    while (inHost_.load())
        QThread::usleep(200);
}

bool JackDriver::enterHost()
{
    // Both stores come before the other side's load: a period that sees running_ still set is
    // seen inside by waitForPeriodToLeaveHost().
    inHost_.store(true);
    if (running_.load())
        return true;
    inHost_.store(false);
    return false;
}

asio::Error JackDriver::outputReady()
{
    // The output half is copied to the ports after the host returns anyway.
    return client_ ? Ok : NotPresent;
}

asio::Error JackDriver::samplePosition(int64_t *position, int64_t *systemTimeNs)
{
    if (!running_.load())
        return NotRunning;
    *position = position_.load();
    *systemTimeNs = int64_t(jack_get_time()) * 1000;
    return Ok;
}

int JackDriver::onProcess(jack_nframes_t frames, void *self)
{
    static_cast<JackDriver *>(self)->process(frames);
    return 0;
}

void JackDriver::process(jack_nframes_t frames)
{
    asio::HostCallbacks *callbacks = callbacks_.load();
    if (!callbacks || int(frames) != frames_.load() || !enterHost()) {
        silenceOutputs(frames);
        return;
    }
    insideProcess = true;
    const std::size_t bytes = std::size_t(frames) * sizeof(float);
    for (const Channel &c : channels_)
        if (c.isInput)
            std::memcpy(c.halves[index_], jack_port_get_buffer(c.port, frames), bytes);
    asio::TimeInfo time;
    time.flags = asio::timeflags::SystemTimeValid | asio::timeflags::SamplePositionValid
                 | asio::timeflags::SampleRateValid;
    time.samplePosition = position_.load();
    time.systemTimeNs = int64_t(jack_get_time()) * 1000;
    time.sampleRate = double(rate_.load());
    callbacks->bufferSwitchTimeInfo(time, index_, true);
    if (running_.load()) {
        for (const Channel &c : channels_)
            if (!c.isInput)
                std::memcpy(jack_port_get_buffer(c.port, frames), c.halves[index_], bytes);
    } else {
        silenceOutputs(frames);
    }
    position_.fetch_add(frames);
    index_ ^= 1;
    insideProcess = false;
    inHost_.store(false);
}

void JackDriver::silenceOutputs(jack_nframes_t frames)
{
    for (const Channel &c : channels_)
        if (!c.isInput)
            std::memset(jack_port_get_buffer(c.port, frames), 0, frames * sizeof(float));
}

int JackDriver::onSampleRate(jack_nframes_t rate, void *self)
{
    // The server also reports its rate when a client joins; only a change is news.
    auto *driver = static_cast<JackDriver *>(self);
    if (driver->rate_.exchange(rate) != rate)
        if (asio::HostCallbacks *callbacks = driver->callbacks_.load())
            callbacks->sampleRateChanged(double(rate));
    return 0;
}

int JackDriver::onBufferSize(jack_nframes_t frames, void *self)
{
    auto *driver = static_cast<JackDriver *>(self);
    const int created = driver->frames_.load();
    if (created != 0 && int(frames) != created)
        driver->askForReset();
    return 0;
}

void JackDriver::onShutdown(jack_status_t, const char *, void *self)
{
    auto *driver = static_cast<JackDriver *>(self);
    driver->running_.store(false);
    driver->serverGone_.store(true);
    driver->askForReset();
}

void JackDriver::askForReset()
{
    if (asio::HostCallbacks *callbacks = callbacks_.load())
        callbacks->message(asio::message::ResetRequest, 0);
}

} // namespace platform::jack
