#include "platform/alsa/AlsaPcm.h"

#include "common/Log.h"

#include <QByteArray>
#include <algorithm>
#include <cstdarg>
#include <memory>
#include <mutex>

namespace platform::alsa {
namespace {

// Hardware with more channels than this is reported with this many; nothing real comes close.
constexpr unsigned maxEngineChannels = 256;

struct HwParamsDeleter
{
    void operator()(snd_pcm_hw_params_t *p) const { snd_pcm_hw_params_free(p); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsDeleter>;

HwParams makeHwParams()
{
    snd_pcm_hw_params_t *params = nullptr;
    snd_pcm_hw_params_malloc(&params);
    return HwParams(params);
}

void alsaErrorHandler(const char *file, int line, const char *function, int error, const char *fmt,
                      ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    sntDebug(lcAlsa, "[ALSA]") << function << QStringLiteral("(%1:%2)").arg(file).arg(line) << text
                               << (error ? snd_strerror(error) : "");
}

Result fail(const char *what, const QString &pcmName, int error)
{
    logAlsaError(what, pcmName, error);
    return resultFromAlsaError(error);
}

} // namespace

snd_pcm_stream_t streamOf(DataFlow flow)
{
    return flow == DataFlow::Capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
}

void logAlsaError(const char *what, const QString &pcmName, int error)
{
    sntDebug(lcAlsa, "[ALSA]") << what << pcmName << snd_strerror(error);
}

void installErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&alsaErrorHandler); });
}

namespace {

// A PCM opened without blocking, with its whole configuration space, for questions about what
// it can do; closed again on leaving.
struct PcmQuery
{
    PcmQuery(const QString &pcmName, DataFlow flow)
    {
        const QByteArray name = pcmName.toLocal8Bit();
        openError = snd_pcm_open(&pcm, name.constData(), streamOf(flow), SND_PCM_NONBLOCK);
        if (openError >= 0)
            error = snd_pcm_hw_params_any(pcm, params.get());
    }
    ~PcmQuery()
    {
        if (pcm)
            snd_pcm_close(pcm);
    }
    PcmQuery(const PcmQuery &) = delete;
    PcmQuery &operator=(const PcmQuery &) = delete;

    snd_pcm_t *pcm = nullptr;
    HwParams params = makeHwParams();
    int openError = 0;
    int error = 0;
};

} // namespace

Result probeEngineFormat(const QString &pcmName, DataFlow flow, unsigned softwareChannels,
                         WaveFormat *format)
{
    PcmQuery query(pcmName, flow);
    if (query.openError < 0)
        return fail("probe open", pcmName, query.openError);
    int error = query.error;
    unsigned channels = softwareChannels;
    if (error >= 0) {
        if (snd_pcm_type(query.pcm) == SND_PCM_TYPE_HW) {
            error = snd_pcm_hw_params_get_channels_max(query.params.get(), &channels);
            channels = std::min(channels, maxEngineChannels);
            if (error >= 0)
                error = snd_pcm_hw_params_set_channels(query.pcm, query.params.get(), channels);
        } else {
            error = snd_pcm_hw_params_set_channels_near(query.pcm, query.params.get(), &channels);
        }
    }
    unsigned rate = 48000;
    if (error >= 0)
        error = snd_pcm_hw_params_set_rate_near(query.pcm, query.params.get(), &rate, nullptr);
    if (error < 0)
        return fail("probe format", pcmName, error);
    *format = WaveFormat::extensibleFloat(rate, uint16_t(channels));
    return result::Ok;
}

Result testPcmFormat(const QString &pcmName, DataFlow flow, unsigned rate, unsigned channels)
{
    PcmQuery query(pcmName, flow);
    if (query.openError < 0)
        return fail("test open", pcmName, query.openError);
    if (query.error < 0)
        return fail("test format", pcmName, query.error);
    const bool takes
            = snd_pcm_hw_params_test_rate(query.pcm, query.params.get(), rate, 0) == 0
              && snd_pcm_hw_params_test_channels(query.pcm, query.params.get(), channels) == 0;
    return takes ? result::Ok : result::UnsupportedFormat;
}

namespace {

// Narrows the configuration space to the stream's format, each value only after the space was
// found to hold it: setting a value the space lacks can leave alsa-lib an empty space, which
// some plugin chains assert on later instead of failing.
int restrictToStreamFormat(snd_pcm_t *pcm, snd_pcm_hw_params_t *hw, const PcmConfig &config,
                           const char **step)
{
    // The test comes first; the value is set only where it passed.
    const auto narrow = [step](const char *name, int tested, const auto &set) {
        *step = name;
        return tested < 0 ? tested : set();
    };
    constexpr snd_pcm_access_t access = SND_PCM_ACCESS_RW_INTERLEAVED;
    constexpr snd_pcm_format_t format = SND_PCM_FORMAT_FLOAT_LE;
    int e = narrow("access", snd_pcm_hw_params_test_access(pcm, hw, access),
                   [&] { return snd_pcm_hw_params_set_access(pcm, hw, access); });
    if (e >= 0)
        e = narrow("format", snd_pcm_hw_params_test_format(pcm, hw, format),
                   [&] { return snd_pcm_hw_params_set_format(pcm, hw, format); });
    if (e >= 0)
        e = narrow("channels", snd_pcm_hw_params_test_channels(pcm, hw, config.channels),
                   [&] { return snd_pcm_hw_params_set_channels(pcm, hw, config.channels); });
    if (e >= 0)
        e = narrow("rate", snd_pcm_hw_params_test_rate(pcm, hw, config.rate, 0),
                   [&] { return snd_pcm_hw_params_set_rate(pcm, hw, config.rate, 0); });
    return e;
}

// Whether the PCM takes a stream's access, sample format, channels and rate as it is.
bool takesStreamFormat(const QString &pcmName, DataFlow flow, const PcmConfig &config)
{
    PcmQuery query(pcmName, flow);
    const char *step = "";
    return query.openError >= 0 && query.error >= 0
           && restrictToStreamFormat(query.pcm, query.params.get(), config, &step) >= 0;
}

} // namespace

Result openStreamPcm(const QString &pcmName, DataFlow flow, PcmConfig *config, snd_pcm_t **out)
{
    // A PCM that takes the stream's format runs as it is. Any other goes behind ALSA's plug
    // layer, which converts; a plug around a chain that already converts (a plug over a LADSPA
    // plugin over a sound server) can make alsa-lib assert instead of failing.
    const bool direct = takesStreamFormat(pcmName, flow, *config);
    const QByteArray name
            = (direct ? pcmName : QStringLiteral("plug:'%1'").arg(pcmName)).toLocal8Bit();
    snd_pcm_t *pcm = nullptr;
    int error = snd_pcm_open(&pcm, name.constData(), streamOf(flow), SND_PCM_NONBLOCK);
    if (error < 0)
        return fail("open", pcmName, error);

    HwParams hw = makeHwParams();
    const auto check = [&](int e, const char *what) {
        if (error >= 0 && e < 0) {
            error = e;
            logAlsaError(what, pcmName, e);
        }
    };
    check(snd_pcm_hw_params_any(pcm, hw.get()), "hw params");
    if (error >= 0) {
        const char *step = "";
        check(restrictToStreamFormat(pcm, hw.get(), *config, &step), step);
    }
    if (error < 0) {
        snd_pcm_close(pcm);
        return error == -EINVAL ? result::UnsupportedFormat : resultFromAlsaError(error);
    }
    check(snd_pcm_hw_params_set_period_size_near(pcm, hw.get(), &config->periodFrames, nullptr),
          "period size");
    check(snd_pcm_hw_params_set_buffer_size_near(pcm, hw.get(), &config->bufferFrames),
          "buffer size");
    check(snd_pcm_hw_params(pcm, hw.get()), "install hw params");
    if (error >= 0) {
        snd_pcm_sw_params_t *sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        check(snd_pcm_sw_params_current(pcm, sw), "sw params");
        check(snd_pcm_sw_params_set_avail_min(pcm, sw, config->periodFrames), "avail min");
        // Playback starts once a period is queued; capture is started explicitly.
        check(snd_pcm_sw_params_set_start_threshold(pcm, sw, config->periodFrames),
              "start threshold");
        // Status time stamps on the steady clock, which the stream's users pair by; a PCM
        // that refuses them still runs, without them.
        config->timestamped
                = snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE) >= 0
                  && snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC) >= 0;
        check(snd_pcm_sw_params(pcm, sw), "install sw params");
    }
    check(snd_pcm_prepare(pcm), "prepare");
    if (error < 0) {
        snd_pcm_close(pcm);
        return resultFromAlsaError(error);
    }
    *out = pcm;
    return result::Ok;
}

} // namespace platform::alsa
