#include "processor/ProcessorEqList.h"

#include "processor/JsonValues.h"

#include <cstddef>

namespace {

const QString kEnabled = QStringLiteral("enabled");
const QString kFilterType = QStringLiteral("filter_type");
const QString kFrequencyHz = QStringLiteral("frequency_hz");
const QString kGainDb = QStringLiteral("gain_db");
const QString kQ = QStringLiteral("q");

// The slopes the processor has for each family, steepest first (dB/oct).
constexpr int linkwitzRileySlopes[] = {48, 36, 24, 12};
constexpr int otherSlopes[] = {48, 36, 24, 18, 12, 6};

template<std::size_t N>
int slopeAtOrBelow(const int (&slopes)[N], int slope)
{
    for (const int candidate : slopes) {
        if (slope >= candidate)
            return candidate;
    }
    return slopes[N - 1];
}

ProcessorEqList::Corner cornerOf(const QVariantMap &map)
{
    return {map.value(kFilterType).toString(), processor::mapDouble(map, kFrequencyHz, 0.0)};
}

} // namespace

QJsonArray ProcessorEqList::filtersJson() const
{
    QJsonArray filters;
    for (const Band &band : bands) {
        filters.append(QJsonObject{{kEnabled, band.enabled},
                                   {kFilterType, QStringLiteral("peak")},
                                   {kFrequencyHz, band.frequencyHz},
                                   {kGainDb, band.gainDb},
                                   {kQ, band.q}});
    }
    return filters;
}

QJsonObject ProcessorEqList::cornerJson(const Corner &corner)
{
    if (corner.filterType.isEmpty())
        return {};
    return {{kFilterType, corner.filterType}, {kFrequencyHz, corner.frequencyHz}};
}

ProcessorEqList ProcessorEqList::fromMaps(const QVariantList &filters, const QVariantMap &highPass,
                                          const QVariantMap &lowPass)
{
    ProcessorEqList list;
    for (const QVariant &filter : filters) {
        const QVariantMap band = filter.toMap();
        list.bands.append({processor::mapDouble(band, kFrequencyHz, 0.0),
                           processor::mapDouble(band, kGainDb, 0.0),
                           processor::mapDouble(band, kQ, 0.0),
                           band.value(kEnabled, true).toBool()});
    }
    list.highPass = cornerOf(highPass);
    list.lowPass = cornerOf(lowPass);
    return list;
}

QString ProcessorEqList::filterType(const QString &kind, int order)
{
    const QString family = kind.trimmed().toUpper();
    const int slope = order * 6;
    if (family == QLatin1String("LR"))
        return QStringLiteral("lr%1").arg(slopeAtOrBelow(linkwitzRileySlopes, slope));
    const int rounded = slopeAtOrBelow(otherSlopes, slope);
    if (family == QLatin1String("BS") || family == QLatin1String("BESSEL"))
        return QStringLiteral("bessel%1").arg(rounded);
    return QStringLiteral("butter%1").arg(rounded);
}
