#include "app/store/CurvePack.h"

#include <QSet>

#include <charconv>
#include <cmath>

namespace {

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

QJsonValue keptAsStored(const QJsonValue &ours, const QJsonValue &asRead, const QJsonValue &stored);

// Whether the reader takes this element of a "bands" array.
bool isReadBand(const QJsonValue &band)
{
    return !bandsFromJson(QJsonArray{band}).isEmpty();
}

// For each band read (`asRead`), the place in `ours` of the band that continues it, or -1 where
// it was removed: as many bands as can be, in order, match one left as it was, and between those,
// bands in the same place count as one edited.
QList<qsizetype> continuedBands(const QJsonArray &ours, const QJsonArray &asRead)
{
    const qsizetype n = ours.size();
    const qsizetype m = asRead.size();
    // unchanged(i, j): how many of the bands of `ours` from i and of `asRead` from j can match.
    std::vector<int> table(std::size_t((n + 1) * (m + 1)), 0);
    const auto unchanged = [&](qsizetype i, qsizetype j) -> int & {
        return table[std::size_t(i * (m + 1) + j)];
    };
    for (qsizetype i = n - 1; i >= 0; --i) {
        for (qsizetype j = m - 1; j >= 0; --j)
            unchanged(i, j) = ours[i] == asRead[j]
                                      ? unchanged(i + 1, j + 1) + 1
                                      : std::max(unchanged(i + 1, j), unchanged(i, j + 1));
    }
    QList<qsizetype> continued(m, -1);
    for (qsizetype i = 0, j = 0; i < n && j < m;) {
        if (unchanged(i + 1, j + 1) + (ours[i] == asRead[j] ? 1 : 0) == unchanged(i, j))
            continued[j++] = i++;
        else if (unchanged(i + 1, j) >= unchanged(i, j + 1))
            ++i; // added
        else
            ++j; // removed
    }
    return continued;
}

// The bands to write where the pack's bands changed: each band read that is still there keeps
// what it held beyond its four values, and the elements the reader passed over stay in place.
QJsonArray keptBands(const QJsonArray &ours, const QJsonArray &asRead, const QJsonArray &stored)
{
    // No engineer sets more; a longer list that changed is written as it stands.
    constexpr qsizetype matchedAtMost = 256;
    if (ours.size() > matchedAtMost || asRead.size() > matchedAtMost)
        return ours;
    const QList<qsizetype> continued = continuedBands(ours, asRead);
    QJsonArray bands;
    qsizetype next = 0; // the first band of `ours` not written yet
    qsizetype read = 0;
    for (const QJsonValue &band : stored) {
        if (!isReadBand(band)) {
            bands.append(band);
            continue;
        }
        const qsizetype i = read < continued.size() ? continued[read] : -1;
        if (i >= 0) {
            for (; next < i; ++next)
                bands.append(ours[next]);
            bands.append(keptAsStored(ours[i], asRead[read], band));
            next = i + 1;
        }
        ++read;
    }
    for (; next < ours.size(); ++next)
        bands.append(ours[next]);
    return bands;
}

// The object to write where the program writes `ours` now and `asRead` for what it read
// (`stored`): key by key, what was read wherever the two agree.
QJsonObject keptInObject(const QJsonObject &ours, const QJsonObject &asRead,
                         const QJsonObject &stored)
{
    QJsonObject kept = stored;
    QStringList keys = ours.keys() + asRead.keys();
    keys.removeDuplicates();
    for (const QString &key : std::as_const(keys)) {
        const QJsonValue value
                = keptAsStored(ours.value(key), asRead.value(key), stored.value(key));
        if (value.isUndefined())
            kept.remove(key);
        else
            kept.insert(key, value);
    }
    return kept;
}

// The value to write where the program writes `ours` now and `asRead` for what it read
// (`stored`): what was read where the two agree, else `ours`, looked into where both are
// objects, or arrays of as many elements.
QJsonValue keptAsStored(const QJsonValue &ours, const QJsonValue &asRead, const QJsonValue &stored)
{
    if (ours == asRead)
        return stored;
    if (ours.isObject() && asRead.isObject() && stored.isObject())
        return keptInObject(ours.toObject(), asRead.toObject(), stored.toObject());
    const QJsonArray oursArray = ours.toArray();
    const QJsonArray readArray = asRead.toArray();
    const QJsonArray storedArray = stored.toArray();
    if (!ours.isArray() || !asRead.isArray() || !stored.isArray()
        || oursArray.size() != readArray.size() || readArray.size() != storedArray.size())
        return ours;
    QJsonArray kept;
    for (qsizetype i = 0; i < oursArray.size(); ++i)
        kept.append(keptAsStored(oursArray[i], readArray[i], storedArray[i]));
    return kept;
}

// The pack's object as this program writes its fields.
QJsonObject fieldsToJson(const CurvePack &pack)
{
    QJsonObject object;
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

} // namespace

QJsonObject curvePackToJson(const CurvePack &pack)
{
    const QJsonObject ours = fieldsToJson(pack);
    // Most packs were written by this program: what it writes for the fields is what was read.
    if (pack.stored.isEmpty() || ours == pack.stored)
        return ours;
    const QJsonObject asRead = fieldsToJson(curvePackFromJson(pack.stored, QString()));
    if (ours == asRead)
        return pack.stored;
    QJsonObject kept = keptInObject(ours, asRead, pack.stored);
    // Bands are matched one by one, so that a band removed or added leaves the others theirs.
    const QString bands = QStringLiteral("bands");
    if (ours.value(bands) != asRead.value(bands) && pack.stored.value(bands).isArray())
        kept.insert(bands, keptBands(ours.value(bands).toArray(), asRead.value(bands).toArray(),
                                     pack.stored.value(bands).toArray()));
    return kept;
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
    pack.stored = object;
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
