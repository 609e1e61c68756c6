#include "processor/EqSections.h"
#include "processor/JsonValues.h"
#include "processor/ParamKeys.h"
#include "processor/ProcessorClient.h"

#include <QTimer>

#include <cmath>

using namespace processor;

namespace {

constexpr int kWriteTimeoutMs = 2000;
constexpr int kLiveFlushMs = 35;
constexpr double kMinGainDb = -40.0;
constexpr double kMaxGainDb = 15.0;
constexpr double kMaxDelayMs = 2000.0;
// A delay above this switches the channel's delay block on.
constexpr double kDelayActiveMs = 0.005;

// The number at the end of a key, or -1.
int trailingIndex(QStringView key)
{
    qsizetype start = key.size();
    while (start > 0 && key[start - 1].isDigit() && key.size() - start < 6)
        --start;
    return start < key.size() ? key.mid(start).toInt() : -1;
}

// The channel whose EQ curve a key changes, numbered inputs 0 to 3 then outputs 4 to 11; -1
// for none.
int eqCurveOf(const QString &key)
{
    if (key.startsWith(QLatin1String("PEQ"))) {
        const int index = trailingIndex(key);
        if (index >= 0 && index < peqIndex(false, kInputs, 0))
            return index / kBands;
        if (index >= peqIndex(true, 0, 0) && index < peqIndex(true, kOutputs, 0))
            return kInputs + (index - peqIndex(true, 0, 0)) / kBands;
        return -1;
    }
    if (key.startsWith(QLatin1String("HLPF"))) {
        // High-passes of the inputs then the outputs from 0, low-passes the same from 12.
        const int index = trailingIndex(key);
        const int corners = kInputs + kOutputs;
        return index >= 0 && index < 2 * corners ? index % corners : -1;
    }
    return -1;
}

// The keys a merge looks at for one channel, made once: a merge runs for every level-socket
// push. An output's mute is looked at in the layer at 20 to 27 first.
struct ChannelKeys
{
    QString gain, firstMute, mute, phase, delay;
};

const std::array<ChannelKeys, kInputs + kOutputs> &channelKeys()
{
    static const std::array<ChannelKeys, kInputs + kOutputs> keys = [] {
        std::array<ChannelKeys, kInputs + kOutputs> table;
        for (int n = 0; n < kInputs + kOutputs; ++n) {
            const bool isOut = n >= kInputs;
            const int index = channelIndex(isOut, isOut ? n - kInputs : n);
            const int firstMute = isOut ? outputMuteLayerIndex(n - kInputs) : index;
            table[n] = {paramKey("GAINgain", index), paramKey("GAINmute", firstMute),
                        paramKey("GAINmute", index), paramKey("GAINphase", index),
                        paramKey("DELAYtime", index)};
        }
        return table;
    }();
    return keys;
}

const std::array<QString, kInputs * kOutputs> &routeKeys()
{
    static const std::array<QString, kInputs *kOutputs> keys = [] {
        std::array<QString, kInputs * kOutputs> table;
        for (int o = 0; o < kOutputs; ++o) {
            for (int i = 0; i < kInputs; ++i)
                table[o * kInputs + i] = paramKey("MIXERmute", routeIndex(o, i));
        }
        return table;
    }();
    return keys;
}

// Takes the fields `update` names for one channel.
void takeFields(ChannelState &channel, const QJsonObject &update, const ChannelKeys &keys)
{
    const auto end = update.constEnd();
    if (const auto gain = update.constFind(keys.gain); gain != end)
        channel.gain = paramDouble(*gain, channel.gain);
    auto mute = update.constFind(keys.firstMute);
    if (mute == end)
        mute = update.constFind(keys.mute);
    if (mute != end)
        channel.muted = paramInt(*mute, 0) != 0;
    if (const auto phase = update.constFind(keys.phase); phase != end)
        channel.phaseNormal = paramInt(*phase, 1) != 0;
    if (const auto delay = update.constFind(keys.delay); delay != end)
        channel.delay = paramDouble(*delay, channel.delay);
}

// The fields whose keys the cache dropped show as on a channel never read, as after a full read
// without them.
void forgetFields(ChannelState &channel, const QStringList &dropped, const ChannelKeys &keys)
{
    const ChannelState neverRead;
    if (dropped.contains(keys.gain))
        channel.gain = neverRead.gain;
    if (dropped.contains(keys.firstMute) || dropped.contains(keys.mute))
        channel.muted = neverRead.muted;
    if (dropped.contains(keys.phase))
        channel.phaseNormal = neverRead.phaseNormal;
    if (dropped.contains(keys.delay))
        channel.delay = neverRead.delay;
}

QVariantList curvePoints(const QVariantList &response)
{
    static const QVariantList flat(kThumbnailPoints, 0.5);
    return response.isEmpty() ? flat : response;
}

} // namespace

ChannelState &ProcessorClient::channel(bool isOut, int idx)
{
    return isOut ? outputChannels_[idx] : inputChannels_[idx];
}

void ProcessorClient::mergeParams(const QJsonObject &update)
{
    changeParams(update, {});
}

void ProcessorClient::changeParams(const QJsonObject &update, const QStringList &dropped)
{
    std::array<bool, kInputs + kOutputs> curves{};
    const auto markCurve = [&curves](const QString &key) {
        if (const int curve = eqCurveOf(key); curve >= 0)
            curves[curve] = true;
    };
    for (auto it = update.constBegin(); it != update.constEnd(); ++it) {
        paramCache_.insert(it.key(), it.value());
        // The processor's own value: a live post that fails later has nothing older to restore.
        gainPath_.confirmed.remove(it.key());
        eqPath_.confirmed.remove(it.key());
        markCurve(it.key());
    }
    for (const QString &key : dropped) {
        paramCache_.remove(key);
        markCurve(key);
    }
    takeChannelFields(update, dropped);
    recomputeRoutes();
    for (int n = 0; n < int(curves.size()); ++n) {
        if (curves[n])
            rebuildEqResponse(n >= kInputs, n >= kInputs ? n - kInputs : n);
    }
    emit channelsChanged();
}

void ProcessorClient::replaceCache(const QJsonObject &everything)
{
    paramCache_ = everything;
    gainPath_.confirmed.clear();
    eqPath_.confirmed.clear();
    // Every strip shows what the device holds: a fader left at 0 dB here would make the next
    // step jump by the difference on a live system. What the device does not report shows as on
    // a channel never read, not as an earlier read left it.
    inputChannels_.fill(ChannelState());
    outputChannels_.fill(ChannelState());
    takeChannelFields(paramCache_, {});
    recomputeRoutes();
    for (int i = 0; i < kInputs; ++i)
        rebuildEqResponse(false, i);
    for (int o = 0; o < kOutputs; ++o)
        rebuildEqResponse(true, o);
    emit channelsChanged();
}

void ProcessorClient::takeChannelFields(const QJsonObject &update, const QStringList &dropped)
{
    if (update.isEmpty() && dropped.isEmpty())
        return;
    for (int n = 0; n < kInputs + kOutputs; ++n) {
        ChannelState &state = n < kInputs ? inputChannels_[n] : outputChannels_[n - kInputs];
        takeFields(state, update, channelKeys()[n]);
        forgetFields(state, dropped, channelKeys()[n]);
    }
}

void ProcessorClient::recomputeRoutes()
{
    for (int r = 0; r < kInputs * kOutputs; ++r)
        routeMatrix_[r] = paramInt(paramCache_.value(routeKeys()[r]), 1) == 0;
}

QVariantList ProcessorClient::channelList(bool isOut) const
{
    const QList<ChannelState> &channels = isOut ? outputChannels_ : inputChannels_;
    QVariantList list;
    list.reserve(channels.size());
    for (int idx = 0; idx < channels.size(); ++idx) {
        const ChannelState &c = channels[idx];
        QVariantMap map{{QStringLiteral("name"),
                         isOut ? QString::number(idx + 1) : QString(QChar(u'A' + idx))},
                        {QStringLiteral("out"), isOut},
                        {QStringLiteral("gain"), c.gain},
                        {QStringLiteral("fader"),
                         qBound(0.0, (c.gain - kMinGainDb) / (kMaxGainDb - kMinGainDb), 1.0)},
                        {QStringLiteral("muted"), c.muted},
                        {QStringLiteral("phase"), c.phaseNormal},
                        {QStringLiteral("inverted"), !c.phaseNormal},
                        {QStringLiteral("delay"), QString::number(c.delay, 'f', 2)},
                        {QStringLiteral("peq"), curvePoints(c.response)},
                        {QStringLiteral("level"), levelSlots_[channelIndex(isOut, idx)]}};
        if (isOut) {
            QVariantList routes;
            for (int i = 0; i < kInputs; ++i)
                routes.append(routeMatrix_[idx * kInputs + i]);
            map.insert(QStringLiteral("routes"), routes);
        }
        list.append(map);
    }
    return list;
}

QVariantMap ProcessorClient::writeParams(const QJsonObject &params)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    QJsonObject ignored;
    QString error;
    if (!postAccepted(params, ignored, error, kWriteTimeoutMs))
        return failure(QStringLiteral("没写进去：") + friendlyError(error));
    // What was sent is what the device now holds; the rest of the reply may say anything.
    mergeParams(params);
    return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), QString()}};
}

QVariantMap ProcessorClient::writeOrWarn(const QJsonObject &params)
{
    const QVariantMap result = writeParams(params);
    if (!result.value(QStringLiteral("ok")).toBool())
        emit message(result.value(QStringLiteral("message")).toString(), true);
    return result;
}

// A value that is not a number never reaches the device: bounded, it would read as the top of
// the range, +15 dB or 2 s.
void ProcessorClient::setChannelGain(bool isOut, int idx, double db)
{
    if (!validChannel(isOut, idx) || !std::isfinite(db))
        return;
    writeOrWarn(
            {{paramKey("GAINgain", channelIndex(isOut, idx)), qBound(kMinGainDb, db, kMaxGainDb)}});
}

void ProcessorClient::setChannelMute(bool isOut, int idx, bool muted)
{
    if (!validChannel(isOut, idx))
        return;
    QJsonObject params{{paramKey("GAINmute", channelIndex(isOut, idx)), muted ? 1 : 0}};
    if (isOut)
        params.insert(paramKey("GAINmute", outputMuteLayerIndex(idx)), muted ? 1 : 0);
    writeOrWarn(params);
}

void ProcessorClient::setChannelPhase(bool isOut, int idx, bool normal)
{
    if (!validChannel(isOut, idx))
        return;
    writeOrWarn({{paramKey("GAINphase", channelIndex(isOut, idx)), normal ? 1 : 0}});
}

void ProcessorClient::setChannelDelay(bool isOut, int idx, double ms)
{
    if (!validChannel(isOut, idx) || !std::isfinite(ms))
        return;
    const double bounded = qBound(0.0, ms, kMaxDelayMs);
    const int index = channelIndex(isOut, idx);
    QJsonObject params{{paramKey("DELAYtime", index), bounded}};
    if (bounded > kDelayActiveMs)
        params.insert(paramKey("DELAYbps", index), 0);
    writeOrWarn(params);
}

void ProcessorClient::setRoute(int outIdx, int inIdx, bool on)
{
    if (!validChannel(true, outIdx) || !validChannel(false, inIdx))
        return;
    writeOrWarn({{paramKey("MIXERmute", routeIndex(outIdx, inIdx)), on ? 0 : 1}});
}

void ProcessorClient::setChannelGainLive(bool isOut, int idx, double db)
{
    if (!validChannel(isOut, idx) || !std::isfinite(db))
        return;
    pendingGains_.insert(channelIndex(isOut, idx), qBound(kMinGainDb, db, kMaxGainDb));
    scheduleLiveFlush(gainPath_, &ProcessorClient::flushLiveGain);
}

// The timer is started by the first value of a burst and not restarted by later ones, so a
// long drag is sent every 35 ms rather than once at its end.
void ProcessorClient::scheduleLiveFlush(LivePath &path, void (ProcessorClient::*flush)())
{
    if (!path.timer) {
        path.timer = new QTimer(this);
        path.timer->setSingleShot(true);
        path.timer->setInterval(kLiveFlushMs);
        connect(path.timer, &QTimer::timeout, this, flush);
    }
    if (!path.timer->isActive())
        path.timer->start();
}

void ProcessorClient::flushLiveGain()
{
    if (gainPath_.inFlight || pendingGains_.isEmpty() || ip_.isEmpty() || !connected_)
        return;
    QJsonObject body;
    for (auto it = pendingGains_.constBegin(); it != pendingGains_.constEnd(); ++it) {
        body.insert(paramKey("GAINgain", it.key()), it.value());
        const bool isOut = it.key() >= channelIndex(true, 0);
        channel(isOut, it.key() - channelIndex(isOut, 0)).gain = it.value();
    }
    pendingGains_.clear();
    postLive(body, gainPath_);
}

// Values of an old drag never reach the next processor, nor this one after a reconnect.
void ProcessorClient::dropLiveValues()
{
    pendingGains_.clear();
    pendingEqKeys_ = QJsonObject();
    for (LivePath *path : {&gainPath_, &eqPath_}) {
        if (path->timer)
            path->timer->stop();
    }
}
