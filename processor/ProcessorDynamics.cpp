#include "processor/DynamicsDesign.h"
#include "processor/JsonValues.h"
#include "processor/ParamKeys.h"
#include "processor/ProcessorClient.h"

using namespace processor;

namespace {

// One setting of an output's compressor or limiter: the page's name, the device key with the
// offset of its index from the output number, its default and whether it is a whole number.
struct DynamicsSetting
{
    const char *name;
    const char *key;
    int offset;
    double def;
    bool whole;
};

// The compressor's keys are numbered after the four inputs, the limiter's by output alone.
constexpr DynamicsSetting kSettings[] = {{"compThrd", "COMPthrd", 4, 18.0, false},
                                         {"compKnee", "COMPknee", 4, 30.0, true},
                                         {"compRatio", "COMPratio", 4, 20.0, false},
                                         {"compAttack", "COMPattack", 4, 20.0, true},
                                         {"compRelease", "COMPrelease", 4, 200.0, true},
                                         {"limThrd", "LIMITERthrd", 0, 18.0, false},
                                         {"limRelease", "LIMITERrelease", 0, 200.0, true}};

// The on switches: a bypass flag each, 0 when the block works.
struct DynamicsSwitch
{
    const char *name;
    int offset;
};

constexpr DynamicsSwitch kSwitches[] = {{"compEnabled", 12}, {"limEnabled", 20}};

} // namespace

QVariantMap ProcessorClient::readDynamics(int spkIdx) const
{
    if (!validChannel(true, spkIdx))
        return {};
    QVariantMap values;
    for (const DynamicsSetting &s : kSettings) {
        const QJsonValue value = paramCache_.value(paramKey(s.key, spkIdx + s.offset));
        values.insert(QLatin1String(s.name), s.whole ? QVariant(paramInt(value, int(s.def)))
                                                     : QVariant(paramDouble(value, s.def)));
    }
    for (const DynamicsSwitch &s : kSwitches) {
        const QJsonValue bypass = paramCache_.value(paramKey("BYPASSbypass", spkIdx + s.offset));
        values.insert(QLatin1String(s.name), paramInt(bypass, 1) == 0);
    }
    return values;
}

QVariantMap ProcessorClient::writeDynamics(int spkIdx, const QVariantMap &values)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    if (!validChannel(true, spkIdx))
        return failure(QStringLiteral("通道号不对。"));
    QJsonObject params;
    for (const DynamicsSetting &s : kSettings) {
        const QString name = QLatin1String(s.name);
        const QString key = paramKey(s.key, spkIdx + s.offset);
        if (s.whole)
            params.insert(key, mapInt(values, name, int(s.def)));
        else
            params.insert(key, mapDouble(values, name, s.def));
    }
    // A switch that is not given is off: its block is written bypassed.
    for (const DynamicsSwitch &s : kSwitches) {
        const bool on = values.value(QLatin1String(s.name)).toBool();
        params.insert(paramKey("BYPASSbypass", spkIdx + s.offset), on ? 0 : 1);
    }
    QVariantMap result = writeOrWarn(params);
    if (result.value(QStringLiteral("ok")).toBool())
        result.insert(QStringLiteral("message"), QStringLiteral("已写进设备。"));
    return result;
}

QVariantMap ProcessorClient::designDynamics(const QVariantMap &ratings) const
{
    return dynamicsToMap(processor::designDynamics(ratingsFromMap(ratings)));
}

double ProcessorClient::compressedLevel(double inputDb, double thresholdDb, double kneeDb,
                                        double ratio) const
{
    return processor::compressedLevel(inputDb, thresholdDb, kneeDb, ratio);
}
