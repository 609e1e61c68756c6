#include "platform/alsa/AlsaEndpoints.h"

#include "platform/alsa/AlsaPcm.h"
#include "platform/alsa/PcmRoute.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <alsa/asoundlib.h>

namespace platform::alsa {
namespace {

const QString defaultPcm = QStringLiteral("default");

const QString idPrefix = QStringLiteral("alsa:");

constexpr unsigned stereo = 2;

QString flowWord(DataFlow flow)
{
    return flow == DataFlow::Capture ? QStringLiteral("capture") : QStringLiteral("render");
}

// One side of a PCM: "alsa:render:<pcm>" or "alsa:capture:<pcm>". Earlier versions gave each
// side this id; what is kept per side is kept under it.
QString sideId(const EndpointInfo &e)
{
    return idPrefix + flowWord(e.flow) + QLatin1Char(':') + e.pcmName;
}

EndpointInfo makeEndpoint(DataFlow flow, const QString &pcmName, const QString &name)
{
    return EndpointInfo{idPrefix + pcmName, pcmName, flow, name};
}

bool answersTo(const EndpointInfo &e, const QString &id, DataFlow flow)
{
    if (e.id == id)
        return flow == DataFlow::All || e.flow == flow;
    return sideId(e) == id;
}

struct FormatCache
{
    QMutex mutex;
    QHash<QString, WaveFormat> formats;
    QHash<QString, int> held;
};

FormatCache &cache()
{
    static FormatCache c;
    return c;
}

// The channels the sound server runs the sink or source a PCM leads to at, asked now; 0 for a
// PCM that leads elsewhere, or while the server does not answer. Such a PCM takes any count, and
// a mono microphone asked for two comes as two copies of itself.
unsigned serverChannelsNow(const EndpointInfo &endpoint, ServerDevices &server)
{
    const std::optional<ServerDevice> device
            = PcmRoute::of(endpoint.pcmName, endpoint.flow).askServer(endpoint.flow, server);
    return device ? device->format.channels : 0;
}

void appendDefaults(QList<EndpointInfo> *out)
{
    const QString name = QStringLiteral("ALSA default");
    out->append(makeEndpoint(DataFlow::Render, defaultPcm, name));
    out->append(makeEndpoint(DataFlow::Capture, defaultPcm, name));
}

bool pcmDeviceHas(snd_ctl_t *ctl, int device, snd_pcm_stream_t stream, QString *pcmName)
{
    snd_pcm_info_t *info = nullptr;
    snd_pcm_info_alloca(&info);
    snd_pcm_info_set_device(info, unsigned(device));
    snd_pcm_info_set_subdevice(info, 0);
    snd_pcm_info_set_stream(info, stream);
    if (snd_ctl_pcm_info(ctl, info) < 0)
        return false;
    *pcmName = QString::fromLocal8Bit(snd_pcm_info_get_name(info));
    return true;
}

void appendCardDevices(snd_ctl_t *ctl, QList<EndpointInfo> *out)
{
    snd_ctl_card_info_t *card = nullptr;
    snd_ctl_card_info_alloca(&card);
    if (snd_ctl_card_info(ctl, card) < 0)
        return;
    const QString cardId = QString::fromLocal8Bit(snd_ctl_card_info_get_id(card));
    const QString cardName = QString::fromLocal8Bit(snd_ctl_card_info_get_name(card));
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl, &device) >= 0 && device >= 0) {
        const QString pcm = QStringLiteral("hw:CARD=%1,DEV=%2").arg(cardId).arg(device);
        for (DataFlow flow : {DataFlow::Render, DataFlow::Capture}) {
            QString pcmTitle;
            if (pcmDeviceHas(ctl, device, streamOf(flow), &pcmTitle))
                out->append(
                        makeEndpoint(flow, pcm, QStringLiteral("%1 (%2)").arg(pcmTitle, cardName)));
        }
    }
}

void appendHardware(QList<EndpointInfo> *out)
{
    int card = -1;
    while (snd_card_next(&card) >= 0 && card >= 0) {
        snd_ctl_t *ctl = nullptr;
        const QByteArray name = QByteArray("hw:") + QByteArray::number(card);
        if (snd_ctl_open(&ctl, name.constData(), SND_CTL_NONBLOCK) < 0)
            continue;
        appendCardDevices(ctl, out);
        snd_ctl_close(ctl);
    }
}

QString configString(snd_config_t *node, const char *key)
{
    snd_config_t *leaf = nullptr;
    const char *text = nullptr;
    if (snd_config_search(node, key, &leaf) < 0 || snd_config_get_string(leaf, &text) < 0)
        return QString();
    return QString::fromLocal8Bit(text);
}

bool hintHidden(snd_config_t *pcm)
{
    snd_config_t *show = nullptr;
    // A computed "show" (a function call) counts as shown.
    return snd_config_search(pcm, "hint.show", &show) >= 0 && snd_config_get_bool(show) == 0;
}

void appendDeclared(snd_config_t *pcm, QList<EndpointInfo> *out)
{
    const char *rawId = nullptr;
    if (snd_config_get_id(pcm, &rawId) < 0)
        return;
    const QString name = QString::fromLocal8Bit(rawId);
    const QString description
            = configString(pcm, "hint.description").section(QLatin1Char('\n'), 0, 0);
    if (name == defaultPcm || name.contains(QLatin1Char('/')) || description.isEmpty()
        || hintHidden(pcm))
        return;
    const bool asym = configString(pcm, "type") == QLatin1String("asym");
    snd_config_t *side = nullptr;
    if (!asym || snd_config_search(pcm, "playback.pcm", &side) >= 0)
        out->append(makeEndpoint(DataFlow::Render, name, description));
    if (!asym || snd_config_search(pcm, "capture.pcm", &side) >= 0)
        out->append(makeEndpoint(DataFlow::Capture, name, description));
}

void appendDeclaredIn(const QString &path, QList<EndpointInfo> *out)
{
    if (!QFileInfo(path).isFile())
        return;
    snd_config_t *top = nullptr;
    snd_input_t *input = nullptr;
    if (snd_config_top(&top) < 0)
        return;
    const QByteArray file = path.toLocal8Bit();
    snd_config_t *pcms = nullptr;
    if (snd_input_stdio_open(&input, file.constData(), "r") >= 0) {
        const int loaded = snd_config_load(top, input);
        snd_input_close(input);
        if (loaded >= 0 && snd_config_search(top, "pcm", &pcms) >= 0
            && snd_config_get_type(pcms) == SND_CONFIG_TYPE_COMPOUND) {
            snd_config_iterator_t i, next;
            snd_config_for_each(i, next, pcms) appendDeclared(snd_config_iterator_entry(i), out);
        }
    }
    snd_config_delete(top);
}

QStringList declarationFiles()
{
    const QString home = QDir::homePath();
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = home + QStringLiteral("/.config");
    return {QStringLiteral("/etc/asound.conf"), home + QStringLiteral("/.asoundrc"),
            configHome + QStringLiteral("/alsa/asoundrc")};
}

// Whether the ALSA configuration of this process defines the PCM. ALSA reads its configuration
// once per process, so a declaration added later cannot be opened before the program restarts
// and is not offered until then.
bool definedForThisProcess(snd_config_t *top, const QString &pcmName)
{
    snd_config_t *definition = nullptr;
    const QByteArray key = QByteArray("pcm.") + pcmName.toLocal8Bit();
    return top && snd_config_search(top, key.constData(), &definition) >= 0;
}

void appendUnique(const QList<EndpointInfo> &found, snd_config_t *top, QList<EndpointInfo> *out)
{
    for (const EndpointInfo &e : found) {
        const bool known = std::any_of(out->cbegin(), out->cend(), [&e](const EndpointInfo &o) {
            return o.id == e.id && o.flow == e.flow;
        });
        if (!known && definedForThisProcess(top, e.pcmName))
            out->append(e);
    }
}

// The engine format probed once and remembered, for a software PCM with `softwareChannels`;
// never probed while a stream of this program holds the PCM.
Result rememberedFormat(const EndpointInfo &endpoint, unsigned softwareChannels, WaveFormat *format)
{
    FormatCache &c = cache();
    {
        QMutexLocker lock(&c.mutex);
        const auto known = c.formats.constFind(sideId(endpoint));
        if (known != c.formats.cend()) {
            *format = *known;
            return result::Ok;
        }
        if (c.held.value(sideId(endpoint)) > 0)
            return result::DeviceInUse;
    }
    WaveFormat probed;
    const Result r = probeEngineFormat(endpoint.pcmName, endpoint.flow, softwareChannels, &probed);
    if (succeeded(r)) {
        QMutexLocker lock(&c.mutex);
        c.formats.insert(sideId(endpoint), probed);
        *format = probed;
    }
    return r;
}

} // namespace

QList<EndpointInfo> AlsaEndpoints::list()
{
    QList<EndpointInfo> endpoints;
    appendDefaults(&endpoints);
    appendHardware(&endpoints);
    snd_config_t *top = nullptr;
    if (snd_config_update_ref(&top) < 0)
        top = nullptr;
    for (const QString &path : declarationFiles()) {
        QList<EndpointInfo> declared;
        appendDeclaredIn(path, &declared);
        appendUnique(declared, top, &endpoints);
    }
    if (top)
        snd_config_unref(top);
    return endpoints;
}

std::optional<EndpointInfo> AlsaEndpoints::find(const QString &id, DataFlow flow)
{
    for (const EndpointInfo &e : list())
        if (answersTo(e, id, flow))
            return e;
    return std::nullopt;
}

Result AlsaEndpoints::engineFormat(const EndpointInfo &endpoint, WaveFormat *format)
{
    ServerDevices server;
    return engineFormat(endpoint, server, format);
}

Result AlsaEndpoints::engineFormat(const EndpointInfo &endpoint, ServerDevices &server,
                                   WaveFormat *format)
{
    // The sink or source behind a PCM that leads to the sound server changes while the program
    // runs (a microphone plugged in and made the default source): its channels are asked every
    // time, never remembered.
    const unsigned channels = serverChannelsNow(endpoint, server);
    WaveFormat known;
    const Result r = rememberedFormat(endpoint, channels > 0 ? channels : stereo, &known);
    if (succeeded(r))
        *format = channels > 0
                          ? WaveFormat::extensibleFloat(known.samplesPerSec, uint16_t(channels))
                          : known;
    return r;
}

void AlsaEndpoints::setHeld(const EndpointInfo &endpoint, bool held)
{
    FormatCache &c = cache();
    QMutexLocker lock(&c.mutex);
    const QString key = sideId(endpoint);
    int &count = c.held[key];
    count += held ? 1 : -1;
    if (count <= 0)
        c.held.remove(key);
}

} // namespace platform::alsa
