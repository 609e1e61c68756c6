#include "app/ProcessorEqList.h"

#include "app/EqPreset.h"

namespace {

// The slopes the processor has for each family, steepest first (dB/oct).
constexpr int linkwitzRileySlopes[] = {48, 36, 24, 12};
constexpr int otherSlopes[] = {48, 36, 24, 18, 12, 6};

QJsonObject processorCorner(const snt::eq::Corner &corner)
{
    if (!eqpreset::deliveredCorner(corner))
        return {};
    return {{QStringLiteral("filter_type"), ProcessorEqList::filterType(corner.kind, corner.order)},
            {QStringLiteral("frequency_hz"), corner.hz}};
}

template<std::size_t N>
int slopeAtOrBelow(const int (&slopes)[N], int slope)
{
    for (const int candidate : slopes) {
        if (slope >= candidate)
            return candidate;
    }
    return slopes[N - 1];
}

} // namespace

ProcessorEqList ProcessorEqList::fromScheme(const QList<snt::eq::SchemeBand> &bands,
                                            const snt::eq::Corner &highPass,
                                            const snt::eq::Corner &lowPass)
{
    ProcessorEqList list;
    for (const snt::eq::SchemeBand &band : bands) {
        list.filters.append(
                QJsonObject{{QStringLiteral("enabled"), band.enabled},
                            {QStringLiteral("filter_type"), QStringLiteral("peak")},
                            {QStringLiteral("frequency_hz"), eqpreset::shortestDecimal(band.freq)},
                            {QStringLiteral("gain_db"), eqpreset::shortestDecimal(band.gain)},
                            {QStringLiteral("q"), eqpreset::shortestDecimal(band.q)}});
    }
    list.hpf = processorCorner(highPass);
    list.lpf = processorCorner(lowPass);
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

QVariantList ProcessorEqList::filterMaps() const
{
    return filters.toVariantList();
}
