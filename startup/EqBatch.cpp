#include "startup/EqBatch.h"

#include "common/Log.h"
#include "startup/BatchCurveFolder.h"
#include "startup/BatchResultFile.h"
#include "startup/IndentedJson.h"
#include "startup/SixDigitNumber.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace snt::startup {

namespace {

const char *const tag = "[EqBatch]";
constexpr int eventSliceMs = 20;
constexpr int checkIntervalMs = 20;

const char *const requiredProperties[] = {"computing", "corners", "eqBands"};
const char *const requiredMethods[]
        = {"loadCurveFile", "startCompute", "selectScheme", "schemeCurvePoints", "schemeSummaries"};

// The detail block's curve keys, each with the key of the scheme's curve map it comes from. The
// chosen scheme is the selected one, so its smoothed curves, which the screens show as
// `schemeBefore` and `schemeAfter`, are its preview's "before" and "after" too.
const std::pair<const char *, const char *> detailCurves[] = {
        {"beforeRaw", "before"},    {"afterRaw", "after"},          {"beforeSmooth", "before"},
        {"afterSmooth", "after"},   {"phaseBefore", "phaseBefore"}, {"phaseAfter", "phaseAfter"},
        {"coherence", "coherence"},
};

// A corner's order from its slope in dB per octave: whole 6 dB steps, truncated toward zero.
int cornerOrder(const QVariant &slopeDb)
{
    return int(slopeDb.toDouble()) / 6;
}

QVariantMap schemeObject(const QVariantMap &entry, const QVariantMap &corners,
                         const QVariantList &bands)
{
    QVariantList bandList;
    for (const QVariant &band : bands) {
        const QVariantMap b = band.toMap();
        bandList.append(QVariantMap{{"hz", b.value("freq").toDouble()},
                                    {"gain", b.value("gain").toDouble()},
                                    {"q", b.value("q").toDouble()}});
    }
    return QVariantMap{
            {"name", entry.value("name").toString()},
            {"targetIndex", entry.value("targetIndex").toInt()},
            {"fit", entry.value("fitError").toDouble()},
            {"maxGain", entry.value("maxGain").toDouble()},
            {"maxCut", entry.value("maxCut").toDouble()},
            {"blocked", entry.value("blocked").toBool()},
            {"blockedReason", entry.value("blockedReason").toString()},
            {"hpf", corners.value("hpfHz").toDouble()},
            {"hpfOrder", cornerOrder(corners.value("hpfSlopeDb"))},
            {"lpf", corners.value("lpfHz").toDouble()},
            {"lpfOrder", cornerOrder(corners.value("lpfSlopeDb"))},
            {"bands", bandList},
    };
}

// One result as it stands in the indented result array, one level in. Each result is turned
// into text once, not again with every later curve.
QByteArray arrayEntryText(const QVariantMap &result)
{
    QByteArray entry = "    ";
    appendIndentedJson(entry, result, 1);
    return entry;
}

} // namespace

QByteArray batchCurveText(const QJsonObject &curve)
{
    QByteArray text = "# frequency_hz\tdb\tphase_deg\tcoherence\n";
    const QJsonArray points = curve.value("curve").toArray();
    const QJsonArray coherence = curve.value("coh").toArray();
    for (qsizetype j = 0; j < points.size(); ++j) {
        const QJsonArray point = points[j].toArray();
        if (point.size() < 2)
            continue;
        const QJsonArray coh = j < coherence.size() ? coherence[j].toArray() : QJsonArray();
        const double c = coh.size() >= 2 ? coh[1].toDouble(1.0) : 1.0;
        appendSixDigitNumber(text, point[0].toDouble());
        text += '\t';
        appendSixDigitNumber(text, point[1].toDouble());
        text += "\t0\t";
        appendSixDigitNumber(text, c);
        text += '\n';
    }
    return text;
}

EqBatch::EqBatch(QObject *bridge, Settings settings)
    : bridge_(bridge)
    , settings_(std::move(settings))
{ }

bool EqBatch::bridgeComplete() const
{
    QStringList missing;
    for (const char *property : requiredProperties) {
        if (!bridge_.hasProperty(property))
            missing.append(QString::fromLatin1(property));
    }
    for (const char *method : requiredMethods) {
        if (!bridge_.hasMethod(method))
            missing.append(QString::fromLatin1(method) + QStringLiteral("()"));
    }
    if (!missing.isEmpty())
        qCWarning(lcStartup).noquote()
                << "EQBATCH the bridge lacks" << missing.join(QStringLiteral(", "));
    return missing.isEmpty();
}

int EqBatch::run()
{
    QFile input(settings_.input);
    if (!input.open(QIODevice::ReadOnly)) {
        qCWarning(lcStartup).noquote() << "EQBATCH cannot open" << settings_.input;
        return cannotOpenInput;
    }
    if (!bridgeComplete())
        return bridgeIncomplete;
    const QJsonArray curves
            = QJsonDocument::fromJson(input.readAll()).object().value("curves").toArray();
    const qsizetype written = runCurves(curves);
    if (termination_.requested()) {
        qCWarning(lcStartup).noquote() << "EQBATCH stopped by a signal after" << written
                                       << "curves ->" << settings_.output;
        termination_.end();
    }
    qCInfo(lcStartup).noquote() << "EQBATCH done" << written << "curves ->" << settings_.output;
    return 0;
}

qsizetype EqBatch::runCurves(const QJsonArray &curves)
{
    QDir().mkpath(QFileInfo(settings_.output).absolutePath());
    BatchResultFile results(settings_.output);

    const BatchCurveFolder folder;
    if (!folder.isValid())
        sntWarning(lcStartup, tag)
                << "cannot create a folder for the curve files in" << QDir::tempPath();
    for (qsizetype i = 0; i < curves.size() && !termination_.requested(); ++i) {
        const QString curveFile = folder.filePath(QStringLiteral("sonetra-eq-batch-%1.txt").arg(i));
        QFile file(curveFile);
        if (!folder.isValid()
            || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)
            || file.write(batchCurveText(curves[i].toObject())) < 0 || !file.flush())
            continue;
        file.close();
        const QVariantMap result = runCurve(curves[i].toObject(), curveFile);
        if (termination_.requested()) {
            QFile::remove(curveFile); // the curve was cut short, not refused
            break;
        }
        if (result.isEmpty())
            continue;
        QFile::remove(curveFile);
        if (!results.append(arrayEntryText(result)))
            sntWarning(lcStartup, tag) << "cannot write" << settings_.output;
    }
    return results.size();
}

// One curve through the bridge; an empty object when the bridge could not load it.
QVariantMap EqBatch::runCurve(const QJsonObject &curve, const QString &curveFile)
{
    const QString name = curve.value("name").toString();
    // A computation still running belongs to an earlier curve that timed out: its schemes must
    // not be taken for this one's, and the bridge would refuse to start another. The engine
    // always ends, so the wait does too.
    if (computing()) {
        sntInfo(lcStartup, tag) << "waiting for the computation of an earlier curve to end";
        waitWhileComputing(std::numeric_limits<qint64>::max());
    }
    if (!bridge_.call("loadCurveFile", {curveFile}).toBool()) {
        qCWarning(lcStartup).noquote()
                << "EQBATCH load failed" << name << "(kept" << curveFile + u')';
        return {};
    }
    bridge_.call("startCompute");
    QElapsedTimer stopwatch;
    stopwatch.start();
    const bool started = computing();
    const bool finished = started && waitWhileComputing(settings_.timeoutMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents, eventSliceMs);
    if (termination_.requested())
        return {}; // cut short, neither timed out nor refused

    QVariantMap result{{"name", name},
                       {"path", curve.value("path").toString()},
                       {"elapsedMs", stopwatch.elapsed()}};
    if (finished) {
        readSchemes(result);
        return result;
    }
    qCWarning(lcStartup).noquote() << (started ? "EQBATCH timeout" : "EQBATCH not started") << name;
    result.insert("schemes", QVariantList());
    for (const auto &[key, source] : detailCurves)
        result.insert(key, QVariantList());
    return result;
}

// The schemes with the bands and corners of each, then the detail block of the chosen scheme,
// which is selected last. The entries are read without their preview curves (the bridge's
// `schemes` with them would make the previews of every scheme): only the chosen scheme's curves
// go into the result, as point lists, which are written as the screens' point maps.
void EqBatch::readSchemes(QVariantMap &result)
{
    const QVariantList schemes = bridge_.call("schemeSummaries").toList();
    QVariantList schemeList;
    for (qsizetype k = 0; k < schemes.size(); ++k) {
        bridge_.call("selectScheme", {int(k)});
        schemeList.append(schemeObject(schemes[k].toMap(), bridge_.read("corners").toMap(),
                                       bridge_.read("eqBands").toList()));
    }
    result.insert("schemes", schemeList);

    int chosen = settings_.chosenScheme;
    if (!schemes.isEmpty()) {
        chosen = std::clamp(chosen, 0, int(schemes.size()) - 1);
        bridge_.call("selectScheme", {chosen});
        const QVariantMap entry = schemes[chosen].toMap();
        result.insert("blocked", entry.value("blocked").toBool());
        result.insert("blockedReason", entry.value("blockedReason").toString());
    }
    const QVariantMap curves = bridge_.call("schemeCurvePoints", {chosen}).toMap();
    for (const auto &[key, source] : detailCurves)
        result.insert(key, curves.value(source, QVariantList()));
}

bool EqBatch::computing() const
{
    return bridge_.read("computing").toBool();
}

// Runs a local event loop while a computation runs, so its queued signals arrive; it ends as
// soon as the bridge reports the change of `computing`, else at the next check. True once no
// computation runs, false when the limit passed or a signal asked to stop first.
bool EqBatch::waitWhileComputing(qint64 limitMs) const
{
    if (!computing())
        return true;
    QEventLoop loop;
    QElapsedTimer waited;
    waited.start();
    const auto check = [this, &loop, &waited, limitMs] {
        if (!computing() || waited.elapsed() >= limitMs || termination_.requested())
            loop.quit();
    };
    QTimer everySlice;
    QObject::connect(&everySlice, &QTimer::timeout, &loop, check);
    everySlice.start(checkIntervalMs);
    QTimer onChange;
    onChange.setSingleShot(true);
    onChange.setInterval(0);
    QObject::connect(&onChange, &QTimer::timeout, &loop, check);
    const QMetaMethod changed = bridge_.notifySignal("computing");
    if (changed.isValid())
        QObject::connect(
                bridge_.target(), changed, &onChange,
                onChange.metaObject()->method(onChange.metaObject()->indexOfSlot("start()")));
    loop.exec();
    return !computing();
}

} // namespace snt::startup
