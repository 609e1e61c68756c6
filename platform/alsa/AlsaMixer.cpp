#include "platform/alsa/AlsaMixer.h"

#include "platform/alsa/AlsaPcm.h"

#include <cmath>

namespace platform::alsa {

// The simple mixer's calls for one direction.
struct MixerSide
{
    int (*hasVolume)(snd_mixer_elem_t *);
    int (*hasSwitch)(snd_mixer_elem_t *);
    int (*hasChannel)(snd_mixer_elem_t *, snd_mixer_selem_channel_id_t);
    int (*range)(snd_mixer_elem_t *, long *, long *);
    int (*volume)(snd_mixer_elem_t *, snd_mixer_selem_channel_id_t, long *);
    int (*setVolumeAll)(snd_mixer_elem_t *, long);
    int (*switchState)(snd_mixer_elem_t *, snd_mixer_selem_channel_id_t, int *);
    int (*setSwitchAll)(snd_mixer_elem_t *, int);
    // The usual names of the master control, most likely first.
    const char *names[3];
};

namespace {

const MixerSide playbackSide{
        snd_mixer_selem_has_playback_volume,  snd_mixer_selem_has_playback_switch,
        snd_mixer_selem_has_playback_channel, snd_mixer_selem_get_playback_volume_range,
        snd_mixer_selem_get_playback_volume,  snd_mixer_selem_set_playback_volume_all,
        snd_mixer_selem_get_playback_switch,  snd_mixer_selem_set_playback_switch_all,
        {"Master", "PCM", "Speaker"}};

const MixerSide captureSide{
        snd_mixer_selem_has_capture_volume,  snd_mixer_selem_has_capture_switch,
        snd_mixer_selem_has_capture_channel, snd_mixer_selem_get_capture_volume_range,
        snd_mixer_selem_get_capture_volume,  snd_mixer_selem_set_capture_volume_all,
        snd_mixer_selem_get_capture_switch,  snd_mixer_selem_set_capture_switch_all,
        {"Capture", "Mic", "Internal Mic"}};

const MixerSide *sideOf(DataFlow flow)
{
    return flow == DataFlow::Capture ? &captureSide : &playbackSide;
}

// The name of the control plugin's definition made for a server device.
constexpr char serverControlName[] = "snt_settings";

QString quoted(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A control definition of ALSA's "pulse" plugin for the sink or source (the server's default
// one when the name is empty).
int serverControl(const PcmRoute &route, DataFlow flow, snd_config_t **config, snd_ctl_t **ctl)
{
    QString text = QStringLiteral("ctl.%1 { type pulse ").arg(QLatin1String(serverControlName));
    if (!route.serverDevice.isEmpty())
        text += QLatin1String(flow == DataFlow::Capture ? "source " : "sink ")
                + quoted(route.serverDevice);
    const QByteArray definition = (text + QLatin1String(" }")).toUtf8();
    int error = snd_config_top(config);
    snd_input_t *input = nullptr;
    if (error >= 0)
        error = snd_input_buffer_open(&input, definition.constData(), definition.size());
    if (error >= 0) {
        error = snd_config_load(*config, input);
        snd_input_close(input);
    }
    if (error >= 0)
        error = snd_ctl_open_lconf(ctl, serverControlName, 0, *config);
    return error;
}

snd_mixer_elem_t *masterElement(snd_mixer_t *mixer, const MixerSide &side)
{
    snd_mixer_elem_t *fallback = nullptr;
    for (const char *wanted : side.names) {
        for (snd_mixer_elem_t *e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e) || !side.hasVolume(e))
                continue;
            if (!fallback)
                fallback = e;
            if (qstrcmp(snd_mixer_selem_get_name(e), wanted) == 0)
                return e;
        }
    }
    return fallback;
}

} // namespace

Result AlsaMixer::open(const PcmRoute &route, DataFlow flow,
                       std::shared_ptr<VolumeControl> *control)
{
    if (route.kind == PcmRoute::Unknown)
        return result::NotFound;
    installErrorHandler();
    snd_config_t *config = nullptr;
    snd_ctl_t *ctl = nullptr;
    int error = 0;
    if (route.kind == PcmRoute::SoundServer) {
        error = serverControl(route, flow, &config, &ctl);
    } else {
        const QByteArray name = route.control.toLocal8Bit();
        error = snd_ctl_open(&ctl, name.constData(), 0);
    }
    snd_hctl_t *hctl = nullptr;
    snd_mixer_t *mixer = nullptr;
    if (error >= 0 && (error = snd_hctl_open_ctl(&hctl, ctl)) < 0)
        snd_ctl_close(ctl);
    // From here the mixer owns the control: closing it closes the control too.
    if (error >= 0 && (error = snd_mixer_open(&mixer, 0)) < 0)
        snd_hctl_close(hctl);
    if (error >= 0 && (error = snd_mixer_attach_hctl(mixer, hctl)) >= 0
        && (error = snd_mixer_selem_register(mixer, nullptr, nullptr)) >= 0)
        error = snd_mixer_load(mixer);
    const MixerSide &side = *sideOf(flow);
    snd_mixer_elem_t *element = error >= 0 ? masterElement(mixer, side) : nullptr;
    if (!element) {
        if (mixer)
            snd_mixer_close(mixer);
        if (config)
            snd_config_delete(config);
        if (error < 0)
            logAlsaError("mixer", route.control + route.serverDevice, error);
        return error < 0 ? resultFromAlsaError(error) : result::NotFound;
    }
    control->reset(new AlsaMixer(mixer, config, element, side));
    return result::Ok;
}

AlsaMixer::AlsaMixer(snd_mixer_t *mixer, snd_config_t *config, snd_mixer_elem_t *element,
                     const MixerSide &side)
    : mixer_(mixer)
    , config_(config)
    , element_(element)
    , side_(side)
{ }

AlsaMixer::~AlsaMixer()
{
    snd_mixer_close(mixer_);
    if (config_)
        snd_config_delete(config_);
}

Result AlsaMixer::masterLevel(float *level)
{
    long lowest = 0, highest = 0;
    int error = side_.range(element_, &lowest, &highest);
    if (error < 0)
        return resultFromAlsaError(error);
    if (highest <= lowest)
        return result::Fail;
    double sum = 0.0;
    int channels = 0;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto channel = snd_mixer_selem_channel_id_t(c);
        long value = 0;
        if (!side_.hasChannel(element_, channel))
            continue;
        if ((error = side_.volume(element_, channel, &value)) < 0)
            return resultFromAlsaError(error);
        sum += double(value);
        ++channels;
    }
    if (channels == 0)
        return result::Fail;
    *level = float((sum / channels - double(lowest)) / double(highest - lowest));
    return result::Ok;
}

Result AlsaMixer::setMasterLevel(float level)
{
    long lowest = 0, highest = 0;
    int error = side_.range(element_, &lowest, &highest);
    if (error >= 0) {
        const long value = lowest + std::lround(double(level) * double(highest - lowest));
        error = side_.setVolumeAll(element_, value);
    }
    return error < 0 ? resultFromAlsaError(error) : result::Ok;
}

// A control without a switch cannot be muted.
Result AlsaMixer::mute(bool *muted)
{
    *muted = false;
    if (!side_.hasSwitch(element_))
        return result::Ok;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto channel = snd_mixer_selem_channel_id_t(c);
        int on = 1;
        if (!side_.hasChannel(element_, channel))
            continue;
        if (const int error = side_.switchState(element_, channel, &on); error < 0)
            return resultFromAlsaError(error);
        *muted = *muted || on == 0;
    }
    return result::Ok;
}

Result AlsaMixer::setMute(bool muted)
{
    if (!side_.hasSwitch(element_))
        return muted ? result::Fail : result::Ok;
    const int error = side_.setSwitchAll(element_, muted ? 0 : 1);
    return error < 0 ? resultFromAlsaError(error) : result::Ok;
}

} // namespace platform::alsa
