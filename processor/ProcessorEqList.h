#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The EQ as the processor takes it: every band (enabled or not, whatever its gain) and the two
// corner filters named by the processor's filter types. The client uploads it as it is; its map
// form is what the processor panel hands over and what the converter for other processors'
// software reads from a request file.
struct ProcessorEqList
{
    struct Band
    {
        double frequencyHz = 0.0;
        double gainDb = 0.0;
        double q = 0.0;
        bool enabled = true;

        friend bool operator==(const Band &, const Band &) = default;
    };

    // Off while it has no filter type.
    struct Corner
    {
        QString filterType; // "lr24", "butter6", "bessel36", …
        double frequencyHz = 0.0;

        friend bool operator==(const Corner &, const Corner &) = default;
    };

    QList<Band> bands;
    Corner highPass;
    Corner lowPass;

    friend bool operator==(const ProcessorEqList &, const ProcessorEqList &) = default;

    // The map form of the bands: {"enabled", "filter_type": "peak", "frequency_hz", "gain_db",
    // "q"} each.
    QJsonArray filtersJson() const;
    // The map form of a corner: {"filter_type", "frequency_hz"}; empty when the corner is off.
    static QJsonObject cornerJson(const Corner &corner);
    // The list of a map form: a band without "enabled" is enabled, a value that is not a finite
    // number is 0, a corner without a filter type is off.
    static ProcessorEqList fromMaps(const QVariantList &filters, const QVariantMap &highPass,
                                    const QVariantMap &lowPass);

    // The processor's name for a corner of `kind` ("LR", "BS" or "BESSEL", else Butterworth;
    // any case) and `order`: its slope order·6 dB/oct rounded down to the slopes the processor
    // has (Linkwitz-Riley 12, 24, 36, 48; Butterworth and Bessel also 6 and 18), as "lr24",
    // "butter6", "bessel36". A slope is never steepened or flattened by more than the rounding.
    static QString filterType(const QString &kind, int order);
};
