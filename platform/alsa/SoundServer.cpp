#include "platform/alsa/SoundServer.h"

#include <QDeadlineTimer>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

namespace platform::alsa {
namespace {

constexpr int stepTimeoutMs = 2000;

WaveFormat formatOf(const pa_sample_spec &sample)
{
    if (sample.format == PA_SAMPLE_FLOAT32LE || sample.format == PA_SAMPLE_FLOAT32BE)
        return WaveFormat::extensibleFloat(sample.rate, sample.channels);
    WaveFormat f = WaveFormat::extensibleFloat(sample.rate, sample.channels);
    const auto bytes = uint16_t(pa_sample_size(&sample));
    f.subFormat = WaveFormat::SubFormat::Pcm;
    f.bitsPerSample = uint16_t(bytes * 8);
    f.validBitsPerSample = f.bitsPerSample;
    f.blockAlign = uint16_t(bytes * sample.channels);
    f.avgBytesPerSec = sample.rate * f.blockAlign;
    return f;
}

struct DeviceQuery
{
    std::optional<ServerDevice> found;
    bool done = false;
};

// pa_sink_info and pa_source_info share the fields read here.
template<typename Info>
void takeDevice(pa_context *, const Info *info, int eol, void *data)
{
    auto *query = static_cast<DeviceQuery *>(data);
    if (eol != 0) {
        query->done = true;
        return;
    }
    query->found = ServerDevice{QString::fromUtf8(info->name), QString::fromUtf8(info->description),
                                formatOf(info->sample_spec)};
}

struct ModuleQuery
{
    QList<ServerModule> modules;
    bool done = false;
};

void takeModule(pa_context *, const pa_module_info *info, int eol, void *data)
{
    auto *query = static_cast<ModuleQuery *>(data);
    if (eol != 0) {
        query->done = true;
        return;
    }
    query->modules.append(ServerModule{info->index, QString::fromUtf8(info->name),
                                       QString::fromUtf8(info->argument)});
}

struct Outcome
{
    bool success = false;
    bool done = false;
};

void takeOutcome(pa_context *, int success, void *data)
{
    auto *outcome = static_cast<Outcome *>(data);
    outcome->success = success != 0;
    outcome->done = true;
}

void noteSettled(pa_context *context, void *data)
{
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state))
        *static_cast<bool *>(data) = true;
}

} // namespace

SoundServer::SoundServer()
    : loop_(pa_mainloop_new())
{
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Sonetra");
    if (!context_)
        return;
    bool settled = false;
    pa_context_set_state_callback(context_, &noteSettled, &settled);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
        waitUntil(settled);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    connected_ = pa_context_get_state(context_) == PA_CONTEXT_READY;
}

SoundServer::~SoundServer()
{
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_mainloop_free(loop_);
}

std::optional<ServerDevice> SoundServer::device(DataFlow flow, const QString &name)
{
    if (!connected_)
        return std::nullopt;
    DeviceQuery query;
    pa_operation *operation = nullptr;
    if (flow == DataFlow::Capture) {
        const QByteArray wanted = name.isEmpty() ? "@DEFAULT_SOURCE@" : name.toUtf8();
        operation = pa_context_get_source_info_by_name(context_, wanted.constData(),
                                                       &takeDevice<pa_source_info>, &query);
    } else {
        const QByteArray wanted = name.isEmpty() ? "@DEFAULT_SINK@" : name.toUtf8();
        operation = pa_context_get_sink_info_by_name(context_, wanted.constData(),
                                                     &takeDevice<pa_sink_info>, &query);
    }
    return finish(operation, query.done) ? query.found : std::nullopt;
}

QList<ServerModule> SoundServer::modules()
{
    if (!connected_)
        return {};
    ModuleQuery query;
    pa_operation *operation = pa_context_get_module_info_list(context_, &takeModule, &query);
    return finish(operation, query.done) ? query.modules : QList<ServerModule>();
}

bool SoundServer::unloadModule(uint32_t index)
{
    if (!connected_)
        return false;
    Outcome outcome;
    pa_operation *operation = pa_context_unload_module(context_, index, &takeOutcome, &outcome);
    return finish(operation, outcome.done) && outcome.success;
}

bool SoundServer::waitUntil(const bool &done)
{
    const QDeadlineTimer deadline(stepTimeoutMs);
    while (!done) {
        const qint64 remainingMs = deadline.remainingTime();
        if (remainingMs <= 0 || pa_mainloop_prepare(loop_, int(remainingMs * 1000)) < 0
            || pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0)
            return false;
    }
    return true;
}

// Waits for the answer; an operation that did not finish in time is cancelled, so its callback
// never reaches the caller's (then gone) record.
bool SoundServer::finish(pa_operation *operation, const bool &done)
{
    if (!operation)
        return false;
    const bool answered = waitUntil(done);
    if (!answered)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return answered;
}

} // namespace platform::alsa
