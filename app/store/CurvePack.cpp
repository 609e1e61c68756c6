#include "app/store/CurvePack.h"

#include <QSet>

#include <charconv>
#include <cmath>

namespace {

// Every key curvePackToJson() may write; any other key of a pack's object is another program's.
bool isOwnKey(const QString &key)
{
    static const QSet<QString> own{
            QStringLiteral("schema"),      QStringLiteral("name"),
            QStringLiteral("use"),         QStringLiteral("seq"),
            QStringLiteral("time"),        QStringLiteral("count"),
            QStringLiteral("rawFile"),     QStringLiteral("rawPoints"),
            QStringLiteral("delayMs"),     QStringLiteral("phaseCompensated"),
            QStringLiteral("smoothBands"), QStringLiteral("bands"),
            QStringLiteral("edges"),       QStringLiteral("curves"),
            QStringLiteral("pointsFile"),  QStringLiteral("pointCount"),
            QStringLiteral("rawFile2"),    QStringLiteral("rawPoints2"),
            QStringLiteral("delayMs2"),    QStringLiteral("levelRefDb"),
            QStringLiteral("levelRefSet"), QStringLiteral("question"),
            QStringLiteral("subAlign"),
    };
    return own.contains(key);
}

// A float as JSON writes it: the double nearest to the float's shortest decimal text, so that
// -3.3f is written "-3.3" and not "-3.299999952316284". Read back as a float it is the same
// value, and another program writing the short text writes the same number.
QJsonValue floatValue(float value)
{
    char text[32];
    const std::to_chars_result shortest = std::to_chars(text, text + sizeof text, value);
    double number = value;
    if (shortest.ec == std::errc() && std::from_chars(text, shortest.ptr, number).ec == std::errc()
        && float(number) == value)
        return number;
    return double(value);
}

QJsonArray bandsToJson(const QList<snt::eq::SchemeBand> &bands)
{
    QJsonArray array;
    for (const snt::eq::SchemeBand &band : bands) {
        array.append(QJsonObject{
                {QStringLiteral("freq"), floatValue(band.freq)},
                {QStringLiteral("gain"), floatValue(band.gain)},
                {QStringLiteral("q"), floatValue(band.q)},
                {QStringLiteral("enabled"), band.enabled},
        });
    }
    return array;
}

// Bands without a usable frequency are dropped: they cannot be applied anywhere.
QList<snt::eq::SchemeBand> bandsFromJson(const QJsonArray &array)
{
    QList<snt::eq::SchemeBand> bands;
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        snt::eq::SchemeBand band;
        band.freq = float(object.value(QStringLiteral("freq")).toDouble(0.0));
        band.gain = float(object.value(QStringLiteral("gain")).toDouble(0.0));
        band.q = float(object.value(QStringLiteral("q")).toDouble(0.0));
        band.enabled = object.value(QStringLiteral("enabled")).toBool(true);
        if (band.freq > 0.0f)
            bands.append(band);
    }
    return bands;
}

} // namespace

QJsonObject curvePackToJson(const CurvePack &pack)
{
    QJsonObject object = pack.otherKeys;
    object.insert(QStringLiteral("schema"), 3);
    object.insert(QStringLiteral("name"), pack.name);
    object.insert(QStringLiteral("use"), pack.use);
    object.insert(QStringLiteral("seq"), pack.seq);
    object.insert(QStringLiteral("time"), pack.time);
    object.insert(QStringLiteral("count"), pack.count);
    object.insert(QStringLiteral("rawFile"), pack.rawFile);
    object.insert(QStringLiteral("rawPoints"), pack.rawPoints);
    object.insert(QStringLiteral("delayMs"), pack.delayMs);
    object.insert(QStringLiteral("phaseCompensated"), pack.phaseCompensated);
    object.insert(QStringLiteral("smoothBands"), pack.smoothBands);
    object.insert(QStringLiteral("bands"), bandsToJson(pack.bands));
    object.insert(QStringLiteral("edges"),
                  QJsonObject{
                          {QStringLiteral("low"), edgeFilterToJson(pack.low)},
                          {QStringLiteral("high"), edgeFilterToJson(pack.high)},
                          {QStringLiteral("lcSuspect"), pack.lcSuspect},
                  });
    object.insert(QStringLiteral("curves"), pointCurvesToJson(pack));
    if (pack.pointCount >= 1 && !pack.pointsFile.isEmpty()) {
        object.insert(QStringLiteral("pointsFile"), pack.pointsFile);
        object.insert(QStringLiteral("pointCount"), pack.pointCount);
    }
    if (!pack.rawFile2.isEmpty()) {
        object.insert(QStringLiteral("rawFile2"), pack.rawFile2);
        object.insert(QStringLiteral("rawPoints2"), pack.rawPoints2);
        object.insert(QStringLiteral("delayMs2"), pack.delayMs2);
    }
    if (pack.levelRefSet) {
        object.insert(QStringLiteral("levelRefDb"), floatValue(pack.levelRefDb));
        object.insert(QStringLiteral("levelRefSet"), true);
    }
    if (!pack.question.isEmpty())
        object.insert(QStringLiteral("question"), pack.question);
    if (!pack.subAlign.isEmpty())
        object.insert(QStringLiteral("subAlign"), pack.subAlign);
    return object;
}

QStringList rawFilesOf(const CurvePack &pack)
{
    return {pack.rawFile, pack.rawFile2, pack.pointsFile};
}

QSet<QString> rawFilesNamedBy(const QList<CurvePack> &packs)
{
    QSet<QString> named;
    for (const CurvePack &pack : packs) {
        for (const QString &name : rawFilesOf(pack))
            named.insert(name);
    }
    return named;
}

CurvePack curvePackFromJson(const QJsonObject &object, const QString &project)
{
    const auto text = [&object](const char *key) {
        return object.value(QLatin1String(key)).toString();
    };
    const auto whole = [&object](const char *key, int fallback) {
        return object.value(QLatin1String(key)).toInt(fallback);
    };
    const auto number = [&object](const char *key, double fallback) {
        return object.value(QLatin1String(key)).toDouble(fallback);
    };
    const auto flag = [&object](const char *key, bool fallback) {
        return object.value(QLatin1String(key)).toBool(fallback);
    };

    CurvePack pack;
    pack.name = text("name");
    pack.use = text("use");
    pack.project = project;
    pack.time = text("time");
    pack.seq = whole("seq", 0);
    pack.count = whole("count", 2);

    pack.rawFile = text("rawFile");
    pack.rawPoints = whole("rawPoints", 0);
    pack.pointsFile = text("pointsFile");
    pack.pointCount = whole("pointCount", 0);
    pack.delayMs = number("delayMs", 0.0);

    pack.rawFile2 = text("rawFile2");
    pack.rawPoints2 = whole("rawPoints2", 0);
    pack.delayMs2 = number("delayMs2", 0.0);

    pack.phaseCompensated = flag("phaseCompensated", true);
    pack.smoothBands = whole("smoothBands", 6);
    pack.levelRefDb = float(number("levelRefDb", 0.0));
    pack.levelRefSet = flag("levelRefSet", false);
    pack.question = text("question");

    pack.bands = bandsFromJson(object.value(QStringLiteral("bands")).toArray());

    const QJsonObject edges = object.value(QStringLiteral("edges")).toObject();
    pack.low = edgeFilterFromJson(edges.value(QStringLiteral("low")).toObject());
    pack.high = edgeFilterFromJson(edges.value(QStringLiteral("high")).toObject());
    pack.lcSuspect = edges.value(QStringLiteral("lcSuspect")).toBool(false);

    pack.subAlign = object.value(QStringLiteral("subAlign")).toObject();

    const QJsonArray curves = object.value(QStringLiteral("curves")).toArray();
    for (const QJsonValue &value : curves) {
        const QJsonObject curve = value.toObject();
        pack.curveLabels.append(curve.value(QStringLiteral("label")).toString());
        pack.curves.append(jsonArrayToFloats(curve.value(QStringLiteral("points"))));
    }
    // The named curves, when there are any, are what the pack counts for.
    if (!curves.isEmpty())
        pack.count = int(curves.size());
    if (pack.count <= 0)
        pack.count = 2;

    for (auto key = object.constBegin(); key != object.constEnd(); ++key) {
        if (!isOwnKey(key.key()))
            pack.otherKeys.insert(key.key(), key.value());
    }
    return pack;
}

QJsonObject edgeFilterToJson(const snt::eq::Corner &corner)
{
    return QJsonObject{
            {QStringLiteral("on"), corner.on},
            {QStringLiteral("kind"), corner.kind},
            {QStringLiteral("order"), corner.order},
            {QStringLiteral("hz"), corner.hz},
    };
}

snt::eq::Corner edgeFilterFromJson(const QJsonObject &object)
{
    snt::eq::Corner corner;
    corner.on = object.value(QStringLiteral("on")).toBool(false);
    corner.kind = object.value(QStringLiteral("kind")).toString();
    corner.order = object.value(QStringLiteral("order")).toInt(0);
    corner.hz = object.value(QStringLiteral("hz")).toDouble(0.0);
    return corner;
}

QJsonArray pointCurvesToJson(const CurvePack &pack)
{
    QJsonArray array;
    for (qsizetype i = 0; i < pack.curves.size(); ++i) {
        const QString label = i < pack.curveLabels.size() ? pack.curveLabels.at(i)
                                                          : QStringLiteral("点位 %1").arg(i + 1);
        QJsonArray points;
        for (float value : pack.curves.at(i)) {
            if (std::isfinite(value))
                points.append(floatValue(value));
        }
        array.append(
                QJsonObject{{QStringLiteral("label"), label}, {QStringLiteral("points"), points}});
    }
    return array;
}

QList<float> jsonArrayToFloats(const QJsonValue &value)
{
    QList<float> values;
    const QJsonArray array = value.toArray();
    values.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (element.isDouble())
            values.append(float(element.toDouble()));
    }
    return values;
}
