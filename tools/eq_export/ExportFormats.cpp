#include "ExportFormats.h"

#include <QLocale>
#include <QStringList>

namespace eqexport {

namespace {

const QString lineEnd = QStringLiteral("\r\n");

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// "BUTTER 24 80" (separator " ") or "BUTTER,24,80" (separator ",").
QString cornerFields(const Corner &corner, const QString &separator)
{
    return QStringList{corner.family.toUpper(), QString::number(corner.slopeDbOct),
                       number(corner.hz)}
            .join(separator);
}

QString bandFields(const Band &band, const QString &separator)
{
    return QStringList{number(band.hz), number(band.gainDb), number(band.q)}.join(separator);
}

// The bands that fit into `sections`, with the counts of the answer.
ExportText fitBands(const Request &request, int sections, QList<Band> &written)
{
    const QList<Band> asked = enabledBands(request);
    written = asked.mid(0, qMax(sections, 0));
    ExportText result;
    result.total = int(asked.size());
    result.supported = int(written.size());
    result.removed = result.total - result.supported;
    return result;
}

} // namespace

ExportText xtaText(const Request &request)
{
    const int corners = int(request.highPass.has_value()) + int(request.lowPass.has_value());
    QList<Band> bands;
    ExportText result = fitBands(request, xtaSections - corners, bands);
    QStringList lines{QStringLiteral("XTA OUTPUT FILTERS")};
    int section = 0;
    const auto add = [&](const QString &fields) {
        lines.append(QString::number(++section) + QLatin1Char(' ') + fields);
    };
    if (request.highPass)
        add(QStringLiteral("HPF ") + cornerFields(*request.highPass, QStringLiteral(" ")));
    for (const Band &band : bands)
        add(QStringLiteral("PEQ ") + bandFields(band, QStringLiteral(" ")));
    while (section < xtaSections - int(request.lowPass.has_value()))
        add(QStringLiteral("OFF"));
    if (request.lowPass)
        add(QStringLiteral("LPF ") + cornerFields(*request.lowPass, QStringLiteral(" ")));
    result.text = (lines.join(lineEnd) + lineEnd).toUtf8();
    return result;
}

ExportText nstText(const Request &request)
{
    QList<Band> bands;
    ExportText result = fitBands(request, nstBandSections, bands);
    const auto corner = [](const std::optional<Corner> &c) {
        return c ? cornerFields(*c, QStringLiteral(",")) : QStringLiteral("OFF");
    };
    QStringList lines{QStringLiteral("[NST OUTPUT CHANNEL]"),
                      QStringLiteral("HPF=") + corner(request.highPass),
                      QStringLiteral("LPF=") + corner(request.lowPass)};
    for (int i = 0; i < nstBandSections; ++i) {
        const QString fields = i < bands.size() ? bandFields(bands[i], QStringLiteral(","))
                                                : QStringLiteral("OFF");
        lines.append(QStringLiteral("PEQ%1=").arg(i + 1) + fields);
    }
    result.text = (lines.join(lineEnd) + lineEnd).toUtf8();
    return result;
}

} // namespace eqexport
