#include "app/SystemCheck.h"

#include "audio/Client.h"
#include "common/Log.h"

#include <QThread>

#include <mutex>

using platform::DataFlow;

namespace syscheck {
namespace {

constexpr int verifyReads = 5;
constexpr int settleMs = 120;
constexpr uint32_t fallbackRate = 48000;
constexpr uint32_t sharedRates[] = {192000, 176400, 96000, 88200, 48000, 44100, 32000};
constexpr uint32_t codecRates[] = {192000, 176400, 96000, 88200, 48000, 44100};

// An item that asks for nothing; `fixable` where a fix would still improve it.
QVariantMap passed(const QString &name, const QString &detail, bool fixable = false)
{
    QVariantMap item = makeCheckItem(name, true, detail, QString());
    if (fixable)
        item.insert(QStringLiteral("fixable"), true);
    return item;
}

QVariantMap needsAttention(const QString &name, const QString &detail, bool fixable = true)
{
    QVariantMap item = makeCheckItem(name, false, detail, QString());
    if (fixable)
        item.insert(QStringLiteral("fixable"), true);
    return item;
}

// A hint: nothing to do, or nothing that could be read.
QVariantMap hintItem(const QString &name, const QString &detail, const QString &action = QString(),
                     bool fixable = false)
{
    QVariantMap item = makeCheckItem(name, true, detail, action);
    item.insert(QStringLiteral("info"), true);
    if (fixable)
        item.insert(QStringLiteral("fixable"), true);
    return item;
}

bool isAsio(const QString &pluginName)
{
    return pluginName.contains(QLatin1String("ASIO"), Qt::CaseInsensitive);
}

// Neither setting has a counterpart on this system; their items are hints that say where to
// look. Said once, not at every check.
void noteHintsOnly()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sntInfo("[SystemCheck]") << "no microphone privacy switch or sound enhancements are "
                                    "readable here; both are shown as hints";
    });
}

} // namespace

// A device row of the audio client, as the check uses it.
struct SystemCheck::Row
{
    uint32_t sampleRate = fallbackRate;
    int channels = 0;
    QString pluginName;
};

struct SystemCheck::Setup
{
    QString inputId;
    QString outputId;
    Row input;
    Row output;
    bool asio = false;
};

QVariantMap makeCheckItem(const QString &name, bool ok, const QString &detail,
                          const QString &action)
{
    return QVariantMap{{QStringLiteral("name"), name},
                       {QStringLiteral("ok"), ok},
                       {QStringLiteral("detail"), detail},
                       {QStringLiteral("action"), action}};
}

SystemCheck::SystemCheck(std::shared_ptr<audio::Client> devices,
                         std::shared_ptr<platform::SoundSettings> settings)
    : devices_(std::move(devices))
    , settings_(std::move(settings))
{ }

QVariantList SystemCheck::runSystemCheck(const QString &inputId) const
{
    noteHintsOnly();
    const Setup setup = readSetup(inputId);
    return {microphoneAccessItem(setup),
            microphoneLevelItem(setup, inputId),
            outputLevelItem(),
            formatItem(setup),
            duckingItem(),
            enhancementsItem(setup)};
}

// No privacy switch stands between a program and the sound server here: what keeps the
// microphone from the measurement is its input being disabled, muted or on the wrong port, all
// of which the sound settings program shows.
QVariantMap SystemCheck::microphoneAccessItem(const Setup &setup) const
{
    const QString source = settings_->friendlyName(setup.inputId, DataFlow::Capture);
    return hintItem(QStringLiteral("麦克风隐私"),
                    QStringLiteral("声音设置 → 输入设备：启用%1并取消静音，端口选接测量麦的那一路")
                            .arg(source.isEmpty() ? QStringLiteral("声音服务器的默认输入")
                                                  : QStringLiteral("「%1」").arg(source)),
                    QStringLiteral("micprivacy"));
}

// Enhancements live in the sound server: the card's profile and the effect modules (equaliser,
// echo cancelling, virtual surround) loaded into it.
QVariantMap SystemCheck::enhancementsItem(const Setup &setup) const
{
    const QString sink = settings_->friendlyName(setup.outputId, DataFlow::Render);
    return hintItem(QStringLiteral("音频增强 / 空间音效"),
                    QStringLiteral("声音设置 → 配置：%1选普通的模拟立体声；声音服务器里的均衡、"
                                   "回声消除和虚拟环绕请关掉")
                            .arg(sink.isEmpty() ? QStringLiteral("输出声卡")
                                                : QStringLiteral("「%1」").arg(sink)),
                    QStringLiteral("soundprops"));
}

SystemCheck::Setup SystemCheck::readSetup(const QString &inputId) const
{
    Setup setup;
    setup.inputId = inputId.isEmpty() ? devices_->defaultDevice(audio::Plugin::Input) : inputId;
    setup.outputId = devices_->defaultDevice(audio::Plugin::Output);
    for (const audio::DeviceInfo &device : devices_->devices()) {
        if (device.id == setup.inputId && !device.inputChannels.isEmpty())
            setup.input
                    = Row{device.sampleRate, int(device.inputChannels.size()), device.pluginName};
        if (device.id == setup.outputId && !device.outputChannels.isEmpty())
            setup.output
                    = Row{device.sampleRate, int(device.outputChannels.size()), device.pluginName};
    }
    setup.asio = isAsio(setup.input.pluginName) || isAsio(setup.output.pluginName);
    return setup;
}

QVariantMap SystemCheck::microphoneLevelItem(const Setup &setup, const QString &inputId) const
{
    const QString name = QStringLiteral("麦克风音量");
    if (setup.asio)
        return hintItem(name, QStringLiteral("ASIO 声卡没有系统音量，跳过"));
    const EndpointLevel level = readEndpointLevel(DataFlow::Capture, inputId);
    if (!level.ok)
        return hintItem(name,
                        level.error.isEmpty() ? QStringLiteral("读不到系统输入音量") : level.error);
    if (!level.muted && level.percent > 0) {
        if (level.percent >= 100)
            return passed(name, QStringLiteral("系统输入音量 %1%").arg(level.percent));
        return needsAttention(
                name, QStringLiteral("系统输入音量 %1%，必须 100% 才能测").arg(level.percent));
    }
    return needsAttention(
            name, QStringLiteral("系统输入音量 %1% · 已静音，测量会没有信号").arg(level.percent));
}

QVariantMap SystemCheck::outputLevelItem() const
{
    const QString name = QStringLiteral("输出音量");
    QString endpointName;
    const EndpointLevel level = readEndpointLevel(DataFlow::Render, QString(), &endpointName);
    if (!level.ok)
        return hintItem(name,
                        level.error.isEmpty() ? QStringLiteral("读不到系统输出音量") : level.error);
    const QString suffix
            = endpointName.isEmpty() ? QString() : QStringLiteral(" · ") + endpointName;
    if (level.muted)
        return needsAttention(
                name,
                QStringLiteral("系统输出音量 %1% · 已静音，测量信号放不出来").arg(level.percent)
                        + suffix);
    if (level.percent < 50)
        return needsAttention(
                name, QStringLiteral("系统输出音量 %1%，不能低于 50%").arg(level.percent) + suffix);
    return passed(name, QStringLiteral("系统输出音量 %1%").arg(level.percent) + suffix,
                  level.percent < 100);
}

QVariantMap SystemCheck::formatItem(const Setup &setup) const
{
    int inChannels = setup.input.channels;
    int outChannels = setup.output.channels;
    uint32_t inRate = setup.input.sampleRate;
    uint32_t outRate = setup.output.sampleRate;
    if (!setup.asio) {
        const auto take = [](const DeviceFormat &format, uint32_t *rate, int *channels) {
            if (!format.ok)
                return;
            if (format.sampleRate >= 1)
                *rate = format.sampleRate;
            if (format.channels >= 1)
                *channels = format.channels;
        };
        take(readDeviceFormat(setup.inputId, DataFlow::Capture), &inRate, &inChannels);
        take(readDeviceFormat(QString(), DataFlow::Render), &outRate, &outChannels);
    }
    const QString name = QStringLiteral("采样率 / 通道数");
    const QString summary = QStringLiteral("输入 %1 路 / 输出 %2 路 · 输入 %3 Hz / 输出 %4 Hz")
                                    .arg(inChannels)
                                    .arg(outChannels)
                                    .arg(inRate)
                                    .arg(outRate);
    if (inChannels < 2)
        return needsAttention(
                name,
                QStringLiteral("输入只有 %1 路；测量需要 2 路输入（参考 + 测量）").arg(inChannels),
                !setup.asio);
    if (outChannels < 1)
        return needsAttention(name, QStringLiteral("输出没有可用通道；发生器至少要 1 路输出"),
                              !setup.asio);
    if (inRate == 0 || outRate == 0)
        return needsAttention(name, QStringLiteral("读不到采样率；%1").arg(summary));
    if (inRate < 44100 || outRate < 44100)
        return needsAttention(name,
                              QStringLiteral("采样率低于 44.1 kHz，高频测不满；%1").arg(summary));
    if (inRate != outRate)
        return needsAttention(name, QStringLiteral("输入和输出采样率不一致；%1").arg(summary));
    if (inRate == 44100) {
        const bool higherPossible = setup.inputId == devices_->defaultDevice(audio::Plugin::Input)
                                    && highestSharedRate(DataFlow::Capture, 2) >= 48000;
        const QString detail
                = higherPossible
                          ? QStringLiteral("44.1 kHz / 2 进 1 出；设备支持 48 kHz，可一键拉高")
                          : QStringLiteral("44.1 kHz / 2 进 1 出，够用；48 kHz 更好");
        return hintItem(name, detail, QString(), higherPossible);
    }
    return passed(name, QStringLiteral("%1 kHz / %2 进 %3 出")
                                .arg(inRate / 1000)
                                .arg(inChannels)
                                .arg(outChannels));
}

QVariantMap SystemCheck::duckingItem() const
{
    const QString name = QStringLiteral("通信时降音量");
    const int preference = settings_->duckingPreference();
    if (preference == platform::ducking::DoNothing)
        return passed(name, QStringLiteral("不会在通话时自动压低声音"));
    const QString what = preference == platform::ducking::MuteOthers
                                 ? QStringLiteral("静音其他声音")
                         : preference == platform::ducking::LowerBy50 ? QStringLiteral("压低 50%")
                                                                      : QStringLiteral("压低 80%");
    return hintItem(
            name,
            QStringLiteral("声音服务器会在通话/开会时把其他声音%1，测量中途一变就白测").arg(what),
            QString(), true);
}

QString SystemCheck::applySystemFixes(const QString &inputId) const
{
    QStringList messages;
    fixFormats(inputId, &messages);
    fixDucking(&messages);
    fixLevel(DataFlow::Capture, inputId, &messages);
    fixLevel(DataFlow::Render, QString(), &messages);
    return messages.isEmpty() ? QStringLiteral("没有需要自动修复的项目")
                              : messages.join(QStringLiteral("；"));
}

void SystemCheck::fixFormats(const QString &givenInputId, QStringList *messages) const
{
    const QString inputId
            = givenInputId.isEmpty() ? settings_->defaultEndpoint(DataFlow::Capture) : givenInputId;
    const QString outputId = settings_->defaultEndpoint(DataFlow::Render);
    const DeviceFormat input = readDeviceFormat(inputId, DataFlow::Capture);
    const DeviceFormat output = readDeviceFormat(outputId, DataFlow::Render);
    QString inputName = settings_->friendlyName(inputId, DataFlow::Capture);
    QString pluginName;
    for (const audio::DeviceInfo &device : devices_->devices()) {
        if (device.id == inputId || (!inputName.isEmpty() && device.name == inputName)) {
            pluginName = device.pluginName;
            if (inputName.isEmpty())
                inputName = device.name;
            break;
        }
    }
    const QString unreadable
            = QStringLiteral("读不到输入设备的格式，请在声音设置里手动确认采样率和通道");
    const QString notChanged
            = QStringLiteral("输入格式没改成（当前 %1 路 / %2 Hz），请在声音设置里手动改")
                      .arg(input.channels)
                      .arg(input.sampleRate);
    const QString changed = QStringLiteral("已把输入格式改成 2 通道 %1 Hz");

    if (isAsio(pluginName)) {
        if (input.ok && output.ok && input.sampleRate != output.sampleRate)
            messages->append(QStringLiteral("ASIO 声卡的采样率请在驱动面板里统一，软件不自动改"));
        return;
    }
    const QString lowerName = inputName.toLower();
    if (lowerName.contains(QLatin1String("usb")) && lowerName.contains(QLatin1String("codec"))) {
        // A USB codec runs best at the highest rate it takes.
        for (const uint32_t rate : codecRates) {
            if (setFormatAndVerify(inputId, DataFlow::Capture, rate, 2)) {
                messages->append(changed.arg(rate));
                fixOutputFormat(outputId, output, rate, messages);
                return;
            }
        }
        messages->append(input.ok ? notChanged : unreadable);
        return;
    }
    const uint32_t best = highestSharedRate(DataFlow::Capture, 2);
    const uint32_t target = best >= 44100 && best < 48000 ? 44100 : 48000;
    if (!input.ok)
        messages->append(unreadable);
    else if (input.sampleRate != target || input.channels < 2)
        messages->append(setFormatAndVerify(inputId, DataFlow::Capture, target, 2)
                                 ? changed.arg(target)
                                 : notChanged);
    fixOutputFormat(outputId, output, target, messages);
}

void SystemCheck::fixOutputFormat(const QString &outputId, const DeviceFormat &output,
                                  uint32_t target, QStringList *messages) const
{
    if (!output.ok || output.sampleRate == target)
        return;
    const int channels = output.channels > 0 ? output.channels : 2;
    messages->append(setFormatAndVerify(outputId, DataFlow::Render, target, channels)
                             ? QStringLiteral("已把输出格式改成 %1 Hz").arg(target)
                             : QStringLiteral("输出格式没改成（当前 %1 Hz），请在声音设置里手动改")
                                       .arg(output.sampleRate));
}

void SystemCheck::fixDucking(QStringList *messages) const
{
    if (settings_->duckingPreference() == platform::ducking::DoNothing)
        return;
    settings_->setDuckingPreference(platform::ducking::DoNothing);
    messages->append(settings_->duckingPreference() == platform::ducking::DoNothing
                             ? QStringLiteral("已关掉通话时自动压低声音")
                             : QStringLiteral("通话降音量没改成，请手动改"));
}

void SystemCheck::fixLevel(DataFlow flow, const QString &id, QStringList *messages) const
{
    const EndpointLevel level = readEndpointLevel(flow, id);
    if (!level.ok || (!level.muted && level.percent >= 100))
        return;
    const bool raised = setEndpointLevelFull(flow, id, 1.0f, true);
    if (flow == DataFlow::Capture)
        messages->append(raised ? QStringLiteral("已把系统输入音量拉到 100% 并取消静音")
                                : QStringLiteral("输入音量没改成，请手动打开系统声音"));
    else
        messages->append(raised ? QStringLiteral("已把系统输出音量拉到 100% 并取消静音")
                                : QStringLiteral("输出音量没改成，请手动打开系统声音"));
}

EndpointLevel SystemCheck::readEndpointLevel(DataFlow flow, const QString &id, QString *name) const
{
    const bool capture = flow == DataFlow::Capture;
    EndpointLevel level;
    if (name)
        *name = settings_->friendlyName(id, flow);
    std::shared_ptr<platform::VolumeControl> control;
    if (!platform::succeeded(settings_->volumeControl(id, flow, &control))) {
        level.error = capture ? QStringLiteral("该设备不提供系统输入音量控制")
                              : QStringLiteral("该设备不提供系统输出音量控制");
        return level;
    }
    float scalar = 0.0f;
    if (const platform::Result r = control->masterLevel(&scalar); !platform::succeeded(r)) {
        const QString code = QStringLiteral("%1").arg(r, 8, 16, QLatin1Char('0'));
        level.error = capture ? QStringLiteral("读不到系统输入音量（0x%1）").arg(code)
                              : QStringLiteral("读不到系统输出音量（0x%1）").arg(code);
        return level;
    }
    bool muted = false;
    level.ok = true;
    level.percent = int(scalar * 100.0f + 0.5f);
    level.muted = platform::succeeded(control->mute(&muted)) && muted;
    return level;
}

bool SystemCheck::setEndpointLevelFull(DataFlow flow, const QString &id, float level,
                                       bool unmute) const
{
    std::shared_ptr<platform::VolumeControl> control;
    return platform::succeeded(settings_->volumeControl(id, flow, &control))
           && platform::succeeded(control->setMasterLevel(level))
           && (!unmute || platform::succeeded(control->setMute(false)));
}

DeviceFormat SystemCheck::readDeviceFormat(const QString &id, DataFlow flow) const
{
    const QString fallbackId = settings_->defaultEndpoint(flow);
    const auto read = [this, flow](const QString &endpoint) {
        platform::WaveFormat format;
        const bool ok = !endpoint.isEmpty()
                        && platform::succeeded(settings_->deviceFormat(endpoint, flow, &format))
                        && format.samplesPerSec > 0 && format.channels > 0;
        return ok ? DeviceFormat{true, format.samplesPerSec, format.channels} : DeviceFormat();
    };
    const DeviceFormat format = read(id.isEmpty() ? fallbackId : id);
    return format.ok || id.isEmpty() ? format : read(fallbackId);
}

bool SystemCheck::setDeviceFormat(const QString &id, DataFlow flow, uint32_t rate,
                                  int channels) const
{
    platform::WaveFormat format;
    if (id.isEmpty() || rate < 1
        || !platform::succeeded(settings_->deviceFormat(id, flow, &format)))
        return false;
    const uint16_t bits = format.bitsPerSample ? format.bitsPerSample : 16;
    const uint16_t oldChannels = format.channels;
    if (channels > 0)
        format.channels = uint16_t(channels);
    format.samplesPerSec = rate;
    format.blockAlign = uint16_t(bits * format.channels / 8);
    format.avgBytesPerSec = bits * format.channels * rate / 8;
    if (format.extraSize >= platform::WaveFormat::extensibleExtraSize) {
        format.validBitsPerSample = bits;
        // Front centre for one channel, front left and right for two; a wider set keeps the
        // device's own speakers, or takes the first speakers of the count when it changes.
        if (format.channels == 1)
            format.channelMask = 0x4;
        else if (format.channels == 2)
            format.channelMask = 0x3;
        else if (format.channels != oldChannels)
            format.channelMask = format.channels >= 32 ? 0xFFFFFFFFu : (1u << format.channels) - 1u;
    }
    return platform::succeeded(settings_->setDeviceFormat(id, flow, format));
}

bool SystemCheck::setFormatAndVerify(const QString &id, DataFlow flow, uint32_t rate,
                                     int minimumChannels) const
{
    if (!setDeviceFormat(id, flow, rate, minimumChannels))
        return false;
    for (int read = 1; read <= verifyReads; ++read) {
        const DeviceFormat format = readDeviceFormat(id, flow);
        if (format.ok && format.sampleRate == rate && format.channels >= minimumChannels)
            return true;
        if (read < verifyReads)
            QThread::msleep(settleMs);
    }
    return false;
}

uint32_t SystemCheck::highestSharedRate(DataFlow flow, int channels) const
{
    const QString id = settings_->defaultEndpoint(flow);
    if (id.isEmpty())
        return 0;
    for (const uint32_t rate : sharedRates) {
        platform::WaveFormat format;
        format.formatTag = platform::WaveFormat::Pcm;
        format.channels = uint16_t(channels);
        format.samplesPerSec = rate;
        format.bitsPerSample = 16;
        format.blockAlign = uint16_t(2 * channels);
        format.avgBytesPerSec = rate * 2 * uint32_t(channels);
        if (platform::succeeded(settings_->sharedFormatSupported(id, flow, format)))
            return rate;
    }
    return 0;
}

} // namespace syscheck
