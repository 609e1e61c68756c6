// Writes what the bridge shows and keeps over a scripted main road, as text that two builds can
// be compared by: after every step the values of all the bridge's properties, the signals the
// step emitted (in order) and the toast; at chosen points the files of the data folder, the
// desktop and the settings. It reaches the bridge only by the names QML uses, so it runs
// unchanged against any build that keeps them.
//
// bridge_dump paper OUT   the road without a sound card (results from a curve file, the
//                         curve window, the subwoofer and fill demos, delivery, navigation)
// bridge_dump card OUT    measuring runs on the in-process loopback card; only values that do
//                         not depend on the noise are written
//
// Times ("MM-dd HH:mm"), file stamps and the names of capture files are masked, so that two runs
// on other days compare equal.
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "tests/support/LoopbackCard.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// Masks what differs between two runs of the same road.
class Masker
{
public:
    QString mask(QString text)
    {
        static const QRegularExpression uuid(
                QStringLiteral("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"));
        static const QRegularExpression time(QStringLiteral("\\b\\d\\d-\\d\\d \\d\\d:\\d\\d\\b"));
        static const QRegularExpression stamp(QStringLiteral("(?<![\\d.])20\\d{12}(?!\\d)"));
        static const QRegularExpression took(QStringLiteral("用时 \\d+ ms"));
        QRegularExpressionMatchIterator it = uuid.globalMatch(text);
        QStringList found;
        while (it.hasNext())
            found.append(it.next().captured());
        for (const QString &id : std::as_const(found)) {
            if (!ids_.contains(id))
                ids_.insert(id, QStringLiteral("uuid-%1").arg(ids_.size() + 1));
            text.replace(id, ids_.value(id));
        }
        text.replace(time, QStringLiteral("MM-dd HH:mm"));
        text.replace(stamp, QStringLiteral("yyyyMMddHHmmss"));
        text.replace(took, QStringLiteral("用时 N ms"));
        text.replace(QDir::homePath(), QStringLiteral("$HOME"));
        return text;
    }

private:
    QHash<QString, QString> ids_;
};

QJsonValue toJson(const QVariant &value)
{
    if (value.typeId() == QMetaType::QObjectStar)
        return value.value<QObject *>() ? QStringLiteral("<object>") : QStringLiteral("<null>");
    if (value.typeId() == QMetaType::QVariantList) {
        QJsonArray array;
        for (const QVariant &entry : value.toList())
            array.append(toJson(entry));
        return array;
    }
    if (value.typeId() == QMetaType::QVariantMap) {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJson(it.value()));
        return object;
    }
    if (value.typeId() == QMetaType::Float)
        return double(value.toFloat());
    if (value.typeId() == QMetaType::QStringList)
        return QJsonArray::fromStringList(value.toStringList());
    if (value.typeId() == QMetaType::QUrl)
        return value.toUrl().toString();
    const QJsonValue json = QJsonValue::fromVariant(value);
    if (json.isNull() && value.isValid() && !value.isNull())
        return QStringLiteral("<%1>").arg(QLatin1String(value.typeName()));
    return json;
}

QString jsonText(const QJsonValue &value)
{
    QJsonArray wrap{value};
    const QByteArray text = QJsonDocument(wrap).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// Records the bridge's signals in the order they are emitted.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    explicit SignalLog(QObject *watched)
    {
        const QMetaObject *meta = watched->metaObject();
        const int slot = metaObject()->indexOfSlot("hit()");
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                QMetaObject::connect(watched, i, this, slot);
        }
    }
    QStringList take() { return std::exchange(names_, {}); }

public slots:
    void hit()
    {
        names_.append(
                QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()));
    }

private:
    QStringList names_;
};

class Road
{
public:
    Road(QmlBridge &bridge, const QString &outPath, QStringList shownProperties = {})
        : bridge_(bridge)
        , log_(&bridge)
        , file_(outPath)
        , shown_(std::move(shownProperties))
    {
        file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out_.setDevice(&file_);
        writeProperties();
    }

    ~Road() { out_.flush(); }

    // Calls an invokable by its QML name with up to six arguments and writes what followed.
    QVariant call(const char *name, QVariantList args = {})
    {
        const QMetaObject *meta = bridge_.metaObject();
        int index = -1;
        for (int i = 0; i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.name() == name && method.parameterCount() == args.size()) {
                index = i;
                break;
            }
        }
        if (index < 0) {
            line(QStringLiteral("!! no member %1/%2").arg(QLatin1String(name)).arg(args.size()));
            return {};
        }
        const QMetaMethod method = meta->method(index);
        for (int i = 0; i < args.size(); ++i)
            args[i].convert(method.parameterMetaType(i));
        QVariant result;
        QGenericReturnArgument ret;
        if (method.returnMetaType().id() != QMetaType::Void) {
            result = QVariant(method.returnMetaType());
            ret = QGenericReturnArgument(method.typeName(), result.data());
        }
        QGenericArgument a[6];
        for (int i = 0; i < args.size(); ++i)
            a[i] = QGenericArgument(args[i].typeName(), args[i].constData());
        method.invoke(&bridge_, Qt::DirectConnection, ret, a[0], a[1], a[2], a[3], a[4], a[5]);
        QStringList shownArgs;
        for (const QVariant &arg : std::as_const(args))
            shownArgs.append(jsonText(toJson(arg)));
        step(QStringLiteral("%1(%2)").arg(QLatin1String(name),
                                          shownArgs.join(QStringLiteral(", "))),
             result);
        return result;
    }

    void set(const char *property, const QVariant &value)
    {
        bridge_.setProperty(property, value);
        step(QStringLiteral("%1 = %2").arg(QLatin1String(property), jsonText(toJson(value))), {});
    }

    // Lets the event loop run until `done` holds or the time is up.
    void waitFor(const QString &what, const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        step(QStringLiteral("wait %1: %2").arg(what, done() ? "reached" : "TIMED OUT"), {},
             /*signalsInOrder=*/false);
    }

    void waitMs(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        step(QStringLiteral("wait %1 ms").arg(ms), {}, false);
    }

    void note(const QString &text) { line(QStringLiteral("# ") + text); }

    void files(const QString &label)
    {
        QSettings().sync();
        line(QStringLiteral("== files: %1").arg(label));
        QStringList paths;
        QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths.append(it.next());
        std::sort(paths.begin(), paths.end());
        // Capture files are named at random: their masked names follow the order in which the
        // pack lists name them, so the text files are masked first and the listing is sorted on
        // the masked names.
        const auto isText = [](const QString &path) {
            return path.endsWith(".json") || path.endsWith(".txt") || path.endsWith(".kvr")
                   || path.endsWith(".conf") || path.endsWith(".log");
        };
        QMap<QString, QString> entries;
        for (const bool text : {true, false}) {
            for (const QString &path : std::as_const(paths)) {
                if (isText(path) != text)
                    continue;
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray bytes = file.readAll();
                const QString body
                        = text ? masker_.mask(QString::fromUtf8(bytes))
                               : QString::fromLatin1(
                                       QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)
                                               .toHex());
                entries.insert(masker_.mask(path),
                               QString::number(bytes.size()) + QLatin1Char('\n') + body);
            }
        }
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            line(it.key() + QLatin1Char('\t') + it.value());
    }

private:
    void step(const QString &what, const QVariant &result, bool signalsInOrder = true)
    {
        line(QStringLiteral("== %1").arg(what));
        if (result.isValid())
            line(QStringLiteral("-> ") + jsonText(toJson(result)));
        const QStringList fired = log_.take();
        if (signalsInOrder) {
            line(QStringLiteral("signals: ") + fired.join(QLatin1Char(' ')));
        } else {
            // Waits see the tick's signals a number of times that depends on the clock.
            QStringList distinct;
            for (const QString &name : fired) {
                if (!distinct.contains(name))
                    distinct.append(name);
            }
            distinct.sort();
            line(QStringLiteral("signals (set): ") + distinct.join(QLatin1Char(' ')));
        }
        writeProperties();
    }

    void writeProperties()
    {
        const QMetaObject *meta = bridge_.metaObject();
        QStringList names;
        for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
            names.append(QString::fromLatin1(meta->property(i).name()));
        names.sort();
        for (const QString &name : std::as_const(names)) {
            if (!shown_.isEmpty() && !shown_.contains(name))
                continue;
            const QString value = masker_.mask(jsonText(toJson(bridge_.property(name.toLatin1()))));
            if (last_.value(name) == value)
                continue;
            last_.insert(name, value);
            line(QStringLiteral("  %1 = %2").arg(name, value));
        }
    }

    void line(const QString &text) { out_ << masker_.mask(text) << '\n'; }

    QmlBridge &bridge_;
    SignalLog log_;
    QFile file_;
    QTextStream out_;
    QStringList shown_;
    QHash<QString, QString> last_;
    Masker masker_;
};

// A loudspeaker-like curve: a low roll-off, a resonance, a dip and a falling top, with phase
// and coherence, as a measuring program exports it.
QString writeCurveFile()
{
    const QString path = QDir::homePath() + QStringLiteral("/speaker curve.txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    QTextStream out(&file);
    out << "# Delay: 4.5 ms\n频率\t幅度\t相位\t相干\n";
    constexpr int points = 700;
    for (int i = 0; i < points; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / double(points - 1));
        const double lowCut = -12.0 * std::log2(1.0 + std::pow(70.0 / f, 4.0)) / 4.0;
        const double resonance = 7.0 * std::exp(-std::pow(std::log2(f / 1800.0) * 3.0, 2.0));
        const double dip = -5.0 * std::exp(-std::pow(std::log2(f / 240.0) * 2.0, 2.0));
        const double top = f > 9000.0 ? -6.0 * std::log2(f / 9000.0) : 0.0;
        const double phase
                = std::remainder(-360.0 * f * 0.0012 + 40.0 * std::sin(f / 500.0), 360.0);
        const double coherence = 0.99 - 0.3 * std::exp(-std::pow(std::log2(f / 240.0) * 2.0, 2.0));
        out << QString::number(f, 'f', 3) << '\t'
            << QString::number(lowCut + resonance + dip + top, 'f', 4) << '\t'
            << QString::number(phase, 'f', 3) << '\t' << QString::number(coherence, 'f', 4) << '\n';
    }
    return path;
}

bool computed(QmlBridge &bridge)
{
    return !bridge.property("computing").toBool();
}

void paperRoad(const QString &out)
{
    QmlBridge bridge;
    Road road(bridge, out);
    road.files("start");

    // Settings, dialogs, toast, geometry
    road.set("darkMode", false);
    road.set("darkMode", true);
    road.set("helpOn", false);
    road.set("measureSignalType", 7);
    road.set("measureGuideHidden", true);
    road.set("pointGuideHidden", true);
    road.set("measureSeconds", 90.0);
    road.set("measureSeconds", 1.0);
    road.set("generatorGain", -80.0);
    road.set("generatorGain", -6.0);
    road.set("smoothingBands", 24);
    road.set("smoothingBands", 12);
    road.set("newProjectOpen", true);
    road.set("micGuideOpen", true);
    road.set("planDetailOpen", true);
    road.set("curveWindowOpen", true);
    road.set("processorPanelOpen", true);
    road.set("curveWindowOpen", true);
    road.set("curveWindowOpen", false);
    road.set("processorPanelOpen", false);
    road.set("fillMicGuideOpen", true);
    road.set("updateDialogOpen", true);
    road.call("toast", {QStringLiteral("你好")});
    road.call("toast", {QStringLiteral("你好")});
    road.call("clearToast");
    road.call("clearToast");
    road.call("saveWindowState", {QStringLiteral("curve"), 10.5, 20.0, 700.0, 600.0});
    road.call("windowState", {QStringLiteral("curve")});
    road.call("windowState", {QStringLiteral("nothing")});
    road.call("coherenceQuality");

    // Projects
    road.call("createProject", {QStringLiteral("  ")});
    road.call("createProject", {QStringLiteral("场地 A")});
    road.call("createProjectInWindow", {QStringLiteral("")});
    road.call("createProjectInWindow", {QStringLiteral("a/b")});
    road.call("createProjectInWindow", {QStringLiteral("场地 A")});
    road.call("createProjectInWindow", {QStringLiteral(" 场地 B ")});
    road.call("renameProject", {QStringLiteral("场地 B"), QStringLiteral("场地 C")});
    road.call("renameProject", {QStringLiteral("场地 C"), QStringLiteral(" 场地 C ")});
    road.call("openProject", {0});
    road.call("openProject", {9});
    road.files("projects");

    // A result from a curve file, computed, chosen, edited and delivered
    road.call("loadCurveFile", {QDir::homePath() + QStringLiteral("/missing.txt")});
    road.call("loadCurveFile", {writeCurveFile()});
    road.call("computeNow");
    road.call("startCompute");
    road.waitFor(
            QStringLiteral("computation"), [&] { return computed(bridge); }, 120000);
    const int schemes = int(bridge.property("schemes").toList().size());
    for (int i = schemes; i >= -1; --i)
        road.call("selectScheme", {i});
    for (int i = 0; i < schemes; ++i)
        road.call("schemeCurves", {i});
    road.call("schemeCurves", {schemes});
    road.call("schemeSummaries");
    road.call("selectTarget", {3});
    road.call("selectTarget", {99});
    road.set("selectedTarget", 1);
    road.call("uploadEqToOfficial", {true, 0});
    road.call("enterScheme", {1});
    road.call("addEqBand");
    road.call("addEqBand");
    road.call("updateEqBand", {0, 5.0, 50.0, 30.0});
    road.call("updateEqBand", {1, 440.0, 2.5, -4.5});
    road.call("setEqBandEnabled", {1, false});
    road.call("setEqBandEnabled", {1, false});
    road.call("removeEqBand", {0});
    road.call("removeEqBand", {40});
    road.call("updateCorner", {QStringLiteral("hpf"), 5.0, 18.0});
    road.call("updateCornerType", {QStringLiteral("hpf"), QStringLiteral("lr")});
    road.call("updateCorner", {QStringLiteral("lpf"), 8000.0, 0.0});
    road.call("updateCornerType", {QStringLiteral("lpf"), QStringLiteral("bessel")});
    road.call("updateCorner", {QStringLiteral("lpf"), 16000.0, 24.0});
    road.waitMs(800);
    road.files("edited pack");
    road.call("copyCurrentParams");
    road.note(QStringLiteral("clipboard: ") + QGuiApplication::clipboard()->text());
    road.call("exportCurrentPack");
    road.call("uploadEqToOfficial", {true, 2});
    road.call("exportEqToProcessor", {QStringLiteral(" XTA ")});
    road.call("exportEqToProcessor", {QStringLiteral("abc")});
    road.call("saveSelectedPack");
    road.call("back");
    road.call("back");
    road.call("enterScheme", {2});
    road.call("go", {QStringLiteral("设置")});
    road.files("delivered");

    // The curve window
    road.call("openCurveWindow");
    const int packs = int(bridge.property("rootPacks").toList().size());
    for (int i = -1; i <= packs + 1; ++i)
        road.call("curvePackDetail", {i});
    road.call("exportCurvePack", {0});
    road.call("exportCurvePack", {7});
    road.call("movePack", {0, -1, QStringLiteral("场地 A")});
    road.call("movePack", {0, 0, QString()});
    road.call("movePack", {5, 0, QString()});
    road.set("curveIndex", 9);
    road.set("smoothingBands", 3);
    road.call("curvePackDetail", {0});
    road.set("smoothingBands", 0);
    road.call("curvePackDetail", {0});
    road.files("curve window");

    // The subwoofer flow from its demo, its edits and its delivery
    road.call("beginSubXover");
    road.call("subMeasure");
    road.call("subPickMain");
    road.call("subTrySetMainFromPack", {0});
    road.call("subTrySetMainFromPack", {1});
    road.call("subLoadMainPack", {42});
    road.set("curveWindowOpen", false);
    road.call("loadSubXoverDemo", {2});
    road.call("subSetLift", {3});
    road.call("subSetLift", {25});
    road.call("subSetLift", {10});
    road.call("subAddEqBand");
    road.call("subAddEqBand");
    road.call("subUpdateEq", {0, 500.0, 0.1, 30.0});
    road.call("subUpdateEq", {1, 71.23, 1.234, -3.33});
    road.call("subSetEqEnabled", {0, false});
    road.call("subUpdateCorner", {QStringLiteral("lpf"), 120.0, 18});
    road.call("subUpdateCorner", {QStringLiteral("hpf"), 5.0, 0});
    road.call("subUpdateCornerType", {QStringLiteral("hpf"), QStringLiteral("bs")});
    road.call("subUpdateCornerType", {QStringLiteral("lpf"), QStringLiteral("xx")});
    road.call("copySubParams");
    road.note(QStringLiteral("clipboard: ") + QGuiApplication::clipboard()->text());
    road.call("exportSubPack");
    road.call("uploadEqToOfficial", {true, 3});
    road.call("subGotoAlign");
    road.call("subAlignMeasure");
    road.call("subAlignRestart");
    road.call("back");
    road.call("back");
    road.call("subGuideDone");
    road.call("subShowGuide");
    road.call("subStop");
    road.call("loadSubXoverDemo", {3});
    road.call("saveSubAlignPack");
    road.call("saveSubAlignPack");
    road.call("subCompute");
    road.call("subRestart");
    road.call("loadSubXoverDemo", {0});
    road.call("home");
    road.files("subwoofer");

    // The fill alignment's demo and its guards without a card
    road.call("beginFillAlign");
    road.call("fillAlignMeasure");
    road.call("fillAlignPlay");
    road.call("fillAlignStop");
    road.call("loadFillAlignDemo", {1, 3.2});
    road.call("loadFillAlignDemo", {5, 3.2});
    road.call("fillAlignPlay");
    road.call("loadFillAlignDemo", {0, 0.0});
    road.call("fillAlignPlay");
    road.call("back");

    // Measuring without a card
    road.call("startMeasureFlow");
    road.call("measurePrimaryAction");
    road.call("levelCalibrate");
    road.call("startMeasure");
    road.call("stopMeasure");
    road.call("stopAnyAction");
    road.call("computeNow");
    road.call("startCompute");
    road.call("nextMeasurement");
    road.call("beginArrayMeasurement");
    road.call("arrayPrimaryAction");
    road.call("arrayStop");
    road.call("computeNow");
    road.call("startCompute");
    road.call("discardMeasurement");
    road.call("nextMeasurement");
    road.call("go", {QStringLiteral("点声源-测量中")});
    road.call("back");
    road.call("go", {QStringLiteral("点声源-选用途")});
    road.call("back");
    road.call("home");
    for (int i = 0; i < 30; ++i)
        road.call("go", {QStringLiteral("屏幕 %1").arg(i)});
    road.call("back");
    road.call("go", {QString()});

    // Projects deleted, packs deleted
    road.call("deleteCurvePack", {0});
    road.call("deleteCurvePack", {99});
    road.call("deleteProject", {0});
    road.call("deleteProject", {9});

    // Calibration and audio settings without a card
    road.call("refreshAudioDevices");
    road.set("selectedAudioDevice", QStringLiteral("没有的卡"));
    road.set("audioDataChannel", 40);
    road.set("audioReferenceChannel", -3);
    road.call("setCalibrationFile", {2, QStringLiteral("/x.txt")});
    road.call("setCalibrationFile", {0, QStringLiteral("/x.txt")});
    road.call("clearCalibrationFile", {0});
    road.call("checkForUpdates");
    road.call("startUpdate");
    road.files("end");
}

// The measuring runs on the loopback card. Only what does not depend on the noise is written.
const QStringList runProperties{QStringLiteral("screen"),
                                QStringLiteral("measuring"),
                                QStringLiteral("autoMeasuring"),
                                QStringLiteral("measuredPointCount"),
                                QStringLiteral("canCompute"),
                                QStringLiteral("toastText"),
                                QStringLiteral("computing"),
                                QStringLiteral("fillAlignStep"),
                                QStringLiteral("subStep"),
                                QStringLiteral("subMeasured"),
                                QStringLiteral("subCalibrating"),
                                QStringLiteral("subAlignStage"),
                                QStringLiteral("subPickingMain"),
                                QStringLiteral("selectedAudioDevice"),
                                QStringLiteral("audioInputDevices"),
                                QStringLiteral("splCalibrated"),
                                QStringLiteral("subAlignAligned"),
                                QStringLiteral("subAlignInvert")};

void cardRoad(const QString &out)
{
    QmlBridge bridge;
    Road road(bridge, out, runProperties);
    const auto is = [&](const char *name) {
        return bridge.property(name).toBool();
    };
    constexpr int long_ = 60000;
    road.set("measureSeconds", 2.0);
    road.set("measureSignalType", 0);

    // A single loudspeaker: a free run, armed once the meters agree, ending in the computation.
    road.call("beginMeasurement");
    road.call("measurePrimaryAction");
    road.waitFor(
            QStringLiteral("level ready"), [&] { return is("measureLevelReady"); }, long_);
    road.call("measurePrimaryAction");
    road.waitFor(
            QStringLiteral("computing screen"),
            [&] { return bridge.property("screen").toString() == QStringLiteral("点声源-计算"); },
            long_);
    road.call("startCompute");
    road.waitFor(
            QStringLiteral("computation"), [&] { return computed(bridge); }, 120000);
    road.call("enterScheme", {0});
    road.call("nextMeasurement");
    road.call("measurePrimaryAction");
    road.call("stopAnyAction");

    // A line array of three points.
    road.call("beginArrayMeasurement");
    for (int point = 0; point < 3; ++point) {
        road.call("arrayPrimaryAction");
        if (!is("autoMeasuring"))
            road.call("arrayPrimaryAction");
        road.waitFor(
                QStringLiteral("point %1").arg(point + 1),
                [&] { return bridge.property("measuredPointCount").toInt() == point + 1; }, long_);
    }
    road.call("arrayPrimaryAction");
    road.call("arrayStop");
    road.call("computeNow");
    road.call("home");

    // The fill alignment: main, then fill.
    road.call("beginFillAlign");
    for (int step = 0; step < 2; ++step) {
        road.call("fillAlignPlay");
        road.call("fillAlignMeasure");
        road.waitFor(
                QStringLiteral("fill step %1").arg(step + 1),
                [&] { return bridge.property("fillAlignStep").toInt() == step + 1; }, long_);
    }
    road.call("fillAlignPlay");
    road.call("beginFillAlign");
    road.call("fillAlignPlay");
    road.call("fillAlignStop");
    road.call("home");

    // The subwoofer: the demo's main curve, a calibration run that becomes the capture.
    road.call("loadSubXoverDemo", {1});
    road.call("subLevelCalibrate");
    road.call("subLevelCalibrate");
    road.call("subLevelCalibrate");
    road.waitFor(
            QStringLiteral("sub levels"), [&] { return is("subLevelReady"); }, long_);
    road.call("subMeasure");
    road.waitFor(
            QStringLiteral("sub captured"),
            [&] { return bridge.property("subMeasured").toInt() == 2 && !is("measuring"); }, long_);
    road.call("subGotoAlign");
    road.call("subLevelCalibrate");
    road.waitFor(
            QStringLiteral("align levels"), [&] { return is("subLevelReady"); }, long_);
    road.call("subAlignMeasure");
    road.waitFor(
            QStringLiteral("main captured"),
            [&] { return bridge.property("subAlignStage").toInt() == 1; }, long_);
    road.call("subAlignMeasure");
    road.waitFor(
            QStringLiteral("sub captured"),
            [&] { return bridge.property("subAlignStage").toInt() == 2; }, long_);
    road.call("subAlignMeasure");
    road.call("subLevelCalibrate");
    road.call("back");
    road.call("home");
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bridge-dump-XXXXXX"));
    qputenv("HOME", home.path().toLocal8Bit());
    for (const char *folder : {".config", ".local/share", ".cache", "Documents", "Desktop"})
        QDir().mkpath(home.path() + QLatin1Char('/') + QLatin1String(folder));
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    const QStringList args = app.arguments();
    if (args.size() != 3
        || (args[1] != QLatin1String("paper") && args[1] != QLatin1String("card"))) {
        QTextStream(stderr) << "usage: bridge_dump paper|card OUT\n";
        return 2;
    }
    std::shared_ptr<snt::test::LoopbackCard> card;
    if (args[1] == QLatin1String("card"))
        card = std::make_shared<snt::test::LoopbackCard>();
    audio::Client::setPluginFactories(card ? QList<audio::Client::PluginFactory>{[card] {
        return card;
    }}
                                           : QList<audio::Client::PluginFactory>{});
    audio::Client::instance();
    if (card)
        cardRoad(args[2]);
    else
        paperRoad(args[2]);
    return 0;
}

#include "BridgeDump.moc"
