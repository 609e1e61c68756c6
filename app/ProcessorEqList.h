#pragma once

#include "eq/Records.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The EQ as the processor takes it: every band (enabled or not, whatever its gain) and the two
// corner filters named by the processor's filter types. The same list goes to the processor
// over the network and, in a request file, to the converter for other processors' software.
struct ProcessorEqList
{
    QJsonArray filters; // {"enabled", "filter_type": "peak", "frequency_hz", "gain_db", "q"}
    QJsonObject hpf; // {"filter_type", "frequency_hz"}; empty when the corner is off
    QJsonObject lpf;

    // The list of a band list and two corners. A corner is left empty when it is off, of an
    // order below 1 or at no frequency above 0.
    static ProcessorEqList fromScheme(const QList<snt::eq::SchemeBand> &bands,
                                      const snt::eq::Corner &highPass,
                                      const snt::eq::Corner &lowPass);

    // The processor's name for a corner of `kind` ("LR", "BS" or "BESSEL", else Butterworth;
    // any case) and `order`: its slope order·6 dB/oct rounded down to the slopes the processor
    // has (Linkwitz-Riley 12, 24, 36, 48; Butterworth and Bessel also 6 and 18), as "lr24",
    // "butter6", "bessel36". A slope is never steepened or flattened by more than the rounding.
    static QString filterType(const QString &kind, int order);

    QVariantList filterMaps() const;
};
