#include "processor/EqSections.h"
#include "processor/JsonValues.h"
#include "processor/ParamKeys.h"
#include "processor/ProcessorClient.h"
#include "processor/ProcessorEqList.h"

#include <utility>

using namespace processor;

namespace {

constexpr int kUploadTimeoutMs = 4000;

const QString kOk = QStringLiteral("ok");
const QString kMessage = QStringLiteral("message");
const QString kFreq = QStringLiteral("freq");
const QString kType = QStringLiteral("type");
const QString kBypass = QStringLiteral("bypass");

// The corner types by name: family and slope in dB/oct. A 30 dB/oct Butterworth has no type of
// its own and is sent as the 36 dB/oct one.
const std::pair<QLatin1String, int> kCornerTypes[]
        = {{QLatin1String("butter6"), 0},   {QLatin1String("butter12"), 1},
           {QLatin1String("butter18"), 2},  {QLatin1String("butter24"), 3},
           {QLatin1String("butter30"), 4},  {QLatin1String("butter36"), 4},
           {QLatin1String("butter48"), 5},  {QLatin1String("bessel6"), 6},
           {QLatin1String("bessel12"), 7},  {QLatin1String("bessel18"), 8},
           {QLatin1String("bessel24"), 9},  {QLatin1String("bessel36"), 10},
           {QLatin1String("bessel48"), 11}, {QLatin1String("lr12"), 12},
           {QLatin1String("lr24"), 13},     {QLatin1String("lr36"), 14},
           {QLatin1String("lr48"), 15}};

// The five keys of one band as the page hands it over.
QJsonObject bandParams(bool isOut, int idx, int band, const QVariantMap &v)
{
    const int k = peqIndex(isOut, idx, band);
    return {{paramKey("PEQfreq", k), mapDouble(v, kFreq, 100.0)},
            {paramKey("PEQgain", k), mapDouble(v, QStringLiteral("gain"), 0.0)},
            {paramKey("PEQq_value", k), mapDouble(v, QStringLiteral("q"), 1.0)},
            {paramKey("PEQtype", k), mapInt(v, kType, 0)},
            {paramKey("PEQbps", k), v.value(kBypass).toBool() ? 1 : 0}};
}

// An uploaded corner: switched on with its type when its name has one, else switched off.
void insertCorner(QJsonObject &scheme, const ProcessorEqList::Corner &corner, int index)
{
    const int code = ProcessorClient::filterTypeCode(corner.filterType);
    if (code < 0) {
        scheme.insert(paramKey("HLPFbps", index), 1);
        return;
    }
    scheme.insert(paramKey("HLPFbps", index), 0);
    scheme.insert(paramKey("HLPFfreq", index), finiteOr(corner.frequencyHz, 0.0));
    scheme.insert(paramKey("HLPFtype", index), code);
}

} // namespace

int ProcessorClient::filterTypeCode(const QString &name)
{
    const QString key = name.trimmed().toLower();
    for (const auto &[typeName, code] : kCornerTypes) {
        if (key == typeName)
            return code;
    }
    return -1;
}

void ProcessorClient::rebuildEqResponse(bool isOut, int idx)
{
    if (!validChannel(isOut, idx))
        return;
    const auto value = [this](const char *name, int index) {
        return paramCache_.value(paramKey(name, index));
    };
    Sections sections;
    for (int b = 0; b < kBands; ++b) {
        const int k = peqIndex(isOut, idx, b);
        const auto freq = paramCache_.constFind(paramKey("PEQfreq", k));
        if (freq == paramCache_.constEnd() || paramInt(value("PEQbps", k), 0) != 0)
            continue;
        sections += bandSection(paramDouble(*freq, 1000.0), paramDouble(value("PEQgain", k), 0.0),
                                paramDouble(value("PEQq_value", k), 0.707),
                                paramInt(value("PEQtype", k), 0));
    }
    for (const bool highPass : {true, false}) {
        const int k = cornerIndex(isOut, idx, highPass);
        if (paramInt(value("HLPFbps", k), 1) != 0)
            continue;
        sections += cornerSections(paramDouble(value("HLPFfreq", k), highPass ? 20.0 : 22000.0),
                                   paramInt(value("HLPFtype", k), 0), highPass);
    }
    QVariantList curve;
    for (const float point : thumbnailOf(sections))
        curve.append(double(point));
    channel(isOut, idx).response = curve;
}

QVariantMap ProcessorClient::readEqChannel(bool isOut, int idx) const
{
    if (!validChannel(isOut, idx))
        return {};
    const auto value = [this](const char *name, int index) {
        return paramCache_.value(paramKey(name, index));
    };
    QVariantList bands;
    for (int b = 0; b < kBands; ++b) {
        const int k = peqIndex(isOut, idx, b);
        bands.append(QVariantMap{{kFreq, paramDouble(value("PEQfreq", k), 100.0)},
                                 {QStringLiteral("gain"), paramDouble(value("PEQgain", k), 0.0)},
                                 {QStringLiteral("q"), paramDouble(value("PEQq_value", k), 1.0)},
                                 {kType, paramInt(value("PEQtype", k), 0)},
                                 {kBypass, paramInt(value("PEQbps", k), 1) != 0}});
    }
    const auto corner = [&](bool highPass) {
        const int k = cornerIndex(isOut, idx, highPass);
        return QVariantMap{{kFreq, paramDouble(value("HLPFfreq", k), highPass ? 20.0 : 20000.0)},
                           {kType, paramInt(value("HLPFtype", k), 1)},
                           {kBypass, paramInt(value("HLPFbps", k), 1) != 0}};
    };
    return {{kOk, true},
            {QStringLiteral("bands"), bands},
            {QStringLiteral("hpf"), corner(true)},
            {QStringLiteral("lpf"), corner(false)},
            {QStringLiteral("count"), kBands}};
}

// The merge of a successful write marks this channel's curve, so it is rebuilt and shown at once.
QVariantMap ProcessorClient::setEqBand(bool isOut, int idx, int band, const QVariantMap &v)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    if (!validChannel(isOut, idx))
        return failure(QStringLiteral("通道号不对。"));
    if (band < 0 || band >= kBands)
        return failure(QStringLiteral("频点不对。"));
    return writeOrWarn(bandParams(isOut, idx, band, v));
}

void ProcessorClient::setEqBandLive(bool isOut, int idx, int band, const QVariantMap &v)
{
    if (!validChannel(isOut, idx) || band < 0 || band >= kBands)
        return;
    const QJsonObject params = bandParams(isOut, idx, band, v);
    for (auto it = params.constBegin(); it != params.constEnd(); ++it)
        pendingEqKeys_.insert(it.key(), it.value());
    scheduleLiveFlush(eqPath_, &ProcessorClient::flushLiveEqBand);
}

// The cache follows the drag, the curve waits for the final write at its end.
void ProcessorClient::flushLiveEqBand()
{
    if (eqPath_.inFlight || pendingEqKeys_.isEmpty() || ip_.isEmpty() || !connected_)
        return;
    postLive(std::exchange(pendingEqKeys_, QJsonObject()), eqPath_);
}

// A low-pass without a frequency opens at 20 kHz: at the high-pass's 20 Hz it would silence
// the channel.
QVariantMap ProcessorClient::setEqFilter(bool isOut, int idx, bool highPass, const QVariantMap &v)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    if (!validChannel(isOut, idx))
        return failure(QStringLiteral("通道号不对。"));
    const int k = cornerIndex(isOut, idx, highPass);
    return writeOrWarn({{paramKey("HLPFfreq", k), mapDouble(v, kFreq, highPass ? 20.0 : 20000.0)},
                        {paramKey("HLPFtype", k), mapInt(v, kType, 1)},
                        {paramKey("HLPFbps", k), v.value(kBypass).toBool() ? 1 : 0}});
}

QVariantMap ProcessorClient::uploadEqScheme(bool isOut, int idx, const QVariantList &filters,
                                            const QVariantMap &hpf, const QVariantMap &lpf)
{
    return uploadEqScheme(isOut, idx, ProcessorEqList::fromMaps(filters, hpf, lpf));
}

QVariantMap ProcessorClient::uploadEqScheme(bool isOut, int idx, const ProcessorEqList &list)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器再上传。"));
    if (!validChannel(isOut, idx))
        return failure(QStringLiteral("通道号不对。"));
    QList<ProcessorEqList::Band> kept;
    for (const ProcessorEqList::Band &band : list.bands) {
        if (band.enabled)
            kept.append(band);
    }
    const bool truncated = kept.size() > kBands;

    QJsonObject scheme;
    for (int b = 0; b < kBands; ++b) {
        const int k = peqIndex(isOut, idx, b);
        // A band beyond the scheme is only switched off; its values stay in the device.
        scheme.insert(paramKey("PEQbps", k), b < kept.size() ? 0 : 1);
        if (b >= kept.size())
            continue;
        scheme.insert(paramKey("PEQfreq", k), finiteOr(kept[b].frequencyHz, 0.0));
        scheme.insert(paramKey("PEQgain", k), finiteOr(kept[b].gainDb, 0.0));
        scheme.insert(paramKey("PEQq_value", k), finiteOr(kept[b].q, 0.0));
        scheme.insert(paramKey("PEQtype", k), 0);
    }
    insertCorner(scheme, list.highPass, cornerIndex(isOut, idx, true));
    insertCorner(scheme, list.lowPass, cornerIndex(isOut, idx, false));

    QJsonObject ignored;
    QString error;
    if (!postAccepted(scheme, ignored, error, kUploadTimeoutMs))
        return failure(QStringLiteral("上传失败：") + friendlyError(error));
    mergeParams(scheme);
    QString text = QStringLiteral("EQ 已写进 %1 %2。")
                           .arg(isOut ? QStringLiteral("OUT") : QStringLiteral("IN"))
                           .arg(idx + 1);
    if (truncated)
        text += QStringLiteral(" 超过 15 段，多出来的没写。");
    return {{kOk, true}, {kMessage, text}, {QStringLiteral("truncated"), truncated}};
}
