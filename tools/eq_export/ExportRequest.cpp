#include "ExportRequest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace eqexport {

namespace {

constexpr double highestHz = 48000.0;

bool readNumber(const QJsonObject &object, const QString &key, double &value)
{
    const QJsonValue field = object.value(key);
    value = field.toDouble(NAN);
    return field.isDouble() && std::isfinite(value);
}

bool readBand(const QJsonValue &value, Band &band, QString &error)
{
    const QJsonObject object = value.toObject();
    const QJsonValue enabled = object.value(QStringLiteral("enabled"));
    if (!value.isObject() || !readNumber(object, QStringLiteral("frequency_hz"), band.hz)
        || !readNumber(object, QStringLiteral("gain_db"), band.gainDb)
        || !readNumber(object, QStringLiteral("q"), band.q)
        || !(enabled.isBool() || enabled.isUndefined())) {
        error = QStringLiteral("a filter lacks a number or has a value of the wrong type");
        return false;
    }
    band.enabled = enabled.toBool(true);
    if (band.hz <= 0.0 || band.hz > highestHz || band.q <= 0.0 || std::abs(band.gainDb) > 60.0) {
        error = QStringLiteral("a filter lies outside 0-48000 Hz, +-60 dB or has Q <= 0");
        return false;
    }
    return true;
}

// "butter24" → Butterworth, 24 dB/oct. Only the names the workbench sends are accepted.
bool readCorner(const QJsonValue &value, std::optional<Corner> &corner, QString &error)
{
    if (value.isUndefined())
        return true;
    static const QRegularExpression name(
            QStringLiteral("^(?:(butter|bessel)(6|12|18|24|36|48)|(lr)(12|24|36|48))$"));
    const QJsonObject object = value.toObject();
    const QRegularExpressionMatch match
            = name.match(object.value(QStringLiteral("filter_type")).toString());
    Corner read;
    if (!value.isObject() || !match.hasMatch()
        || !readNumber(object, QStringLiteral("frequency_hz"), read.hz) || read.hz <= 0.0
        || read.hz > highestHz) {
        error = QStringLiteral("a corner filter has an unknown type or no usable frequency");
        return false;
    }
    const int familyGroup = match.capturedLength(1) > 0 ? 1 : 3;
    read.family = match.captured(familyGroup);
    read.slopeDbOct = match.captured(familyGroup + 1).toInt();
    corner = read;
    return true;
}

bool readContent(const QString &path, QByteArray &content, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open the request file: ") + file.errorString();
        return false;
    }
    // A size check before reading, and a read bounded by it, so that neither a large file nor
    // one still growing is taken in.
    content = file.size() > maxRequestBytes ? QByteArray() : file.read(maxRequestBytes + 1);
    if (file.size() > maxRequestBytes || content.size() > maxRequestBytes) {
        error = QStringLiteral("the request file is larger than %1 bytes").arg(maxRequestBytes);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read the request file: ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace

QList<Band> enabledBands(const Request &request)
{
    QList<Band> bands;
    for (const Band &band : request.bands) {
        if (band.enabled)
            bands.append(band);
    }
    return bands;
}

bool readRequest(const QString &path, Request &request, QString &error)
{
    QByteArray content;
    if (!readContent(path, content, error))
        return false;
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parse);
    if (!document.isObject()) {
        error = QStringLiteral("the request is not a JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    const QString target = object.value(QStringLiteral("target")).toString();
    if (target != QLatin1String("xta") && target != QLatin1String("nst")) {
        error = QStringLiteral("the target is neither \"xta\" nor \"nst\"");
        return false;
    }
    request = Request();
    request.target = target == QLatin1String("xta") ? Target::Xta : Target::Nst;
    request.desktop = object.value(QStringLiteral("desktop")).toString();
    const QJsonValue filters = object.value(QStringLiteral("filters"));
    if (!filters.isArray()) {
        error = QStringLiteral("the request has no \"filters\" array");
        return false;
    }
    for (const QJsonValue &value : filters.toArray()) {
        Band band;
        if (!readBand(value, band, error))
            return false;
        request.bands.append(band);
    }
    return readCorner(object.value(QStringLiteral("hpf")), request.highPass, error)
           && readCorner(object.value(QStringLiteral("lpf")), request.lowPass, error);
}

} // namespace eqexport
