// The headless EQ batch over the application core and the real EQ engine, its result read back
// by an independent reader (read_batch_result.py), and the export test over a recording bridge.
#include "app/AppCore.h"
#include "startup/EqBatch.h"
#include "startup/PackExportTest.h"
#include "tests/startup/BatchFiles.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QJsonDocument>
#include <QPointF>
#include <QTemporaryDir>
#include <QThread>

using namespace snt::startup;
using namespace snt::test;

namespace {

QVariantList pointMaps(const QList<float> &freq, const QList<float> &values)
{
    QVariantList list;
    for (qsizetype i = 0; i < std::min(freq.size(), values.size()); ++i)
        list.append(QVariantMap{{"f", freq[i]}, {"d", values[i]}});
    return list;
}

QVariant points(const QList<float> &freq, const QList<float> &values)
{
    QList<QPointF> list;
    for (qsizetype i = 0; i < std::min(freq.size(), values.size()); ++i)
        list.append({freq[i], values[i]});
    return QVariant::fromValue(list);
}

// The members the batch uses, by the bridge's names, over an application core: the schemes as
// the engine returned them, each scheme's own corners, its measured and predicted curves as its
// "before" and "after" points.
class CoreBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool computing READ computing NOTIFY changed)
    Q_PROPERTY(QVariantMap corners READ corners NOTIFY changed)
    Q_PROPERTY(QVariantList eqBands READ eqBands NOTIFY changed)
public:
    explicit CoreBridge(EqWorker::Compute compute = snt::eq::computeSchemes)
        : core(nullptr, std::move(compute))
    {
        connect(&core, &AppCore::computeFinished, this, &CoreBridge::changed);
    }

    Q_INVOKABLE bool loadCurveFile(const QString &path)
    {
        curveFiles.append(path);
        return core.importCurveText(path);
    }
    Q_INVOKABLE void startCompute()
    {
        if (!core.computing() && !refuseStart)
            core.startEqCompute();
    }
    Q_INVOKABLE void selectScheme(int index)
    {
        const QList<snt::eq::Scheme> &schemes = core.result().schemes;
        if (!schemes.isEmpty())
            core.setSelectedScheme(std::clamp(index, 0, int(schemes.size()) - 1));
    }
    Q_INVOKABLE QVariantMap schemeCurvePoints(int index) const
    {
        if (index < 0 || index >= core.result().schemes.size())
            return {};
        const snt::eq::Scheme &s = core.result().schemes[index];
        return {{"before", points(s.freq, s.measured)}, {"after", points(s.freq, s.predicted)}};
    }

    Q_INVOKABLE QVariantList schemeSummaries() const
    {
        QVariantList list;
        for (const snt::eq::Scheme &s : core.result().schemes)
            list.append(QVariantMap{{"name", s.name},
                                    {"targetIndex", s.targetIndex},
                                    {"fitError", s.fitError},
                                    {"maxGain", s.maxGain},
                                    {"maxCut", s.maxCut},
                                    {"blocked", s.blocked()},
                                    {"blockedReason", s.blockedReason}});
        return list;
    }

    bool computing() const { return core.computing(); }
    QVariantMap corners() const
    {
        const snt::eq::Scheme &s = core.result().schemes.at(core.result().selectedScheme);
        return {{"hpfHz", s.hpf.hz},
                {"hpfSlopeDb", s.hpf.on ? s.hpf.order * 6 : 0},
                {"lpfHz", s.lpf.hz},
                {"lpfSlopeDb", s.lpf.on ? s.lpf.order * 6 : 0}};
    }
    QVariantList eqBands() const
    {
        QVariantList list;
        for (const snt::eq::SchemeBand &b :
             core.result().schemes.at(core.result().selectedScheme).bands)
            list.append(QVariantMap{{"freq", b.freq}, {"gain", b.gain}, {"q", b.q}});
        return list;
    }

    AppCore core;
    bool refuseStart = false;
    QStringList curveFiles; // the files it was asked to load
signals:
    void changed();
};

// Names its one scheme after the number of points it was given; slow for 10 points.
QList<snt::eq::Scheme> countingCompute(const snt::eq::Measured &measured, const snt::eq::Options &,
                                       QString *, const EqWorker::Progress &)
{
    if (measured.freq.size() == 10)
        QThread::msleep(600);
    snt::eq::Scheme scheme;
    scheme.name = QString("%1 points").arg(measured.freq.size());
    return {scheme};
}

class PackBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList rootPacks MEMBER rootPacks CONSTANT)
    Q_PROPERTY(QVariantList projects MEMBER projects CONSTANT)
public:
    Q_INVOKABLE bool exportCurvePack(int index)
    {
        exported = index;
        return index >= 0;
    }
    QVariantList rootPacks;
    QVariantList projects;
    int exported = -100;
};

QVariantList packs(std::initializer_list<int> indices)
{
    QVariantList list;
    for (const int index : indices)
        list.append(QVariantMap{{"index", index}});
    return list;
}

} // namespace

class HeadlessModesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString input(const QByteArray &json)
    {
        QFile file(dir.filePath("in.json"));
        return file.open(QIODevice::WriteOnly) && file.write(json) == json.size() ? file.fileName()
                                                                                  : QString();
    }

    QString input(const QJsonArray &curves)
    {
        return writeBatchInput(dir.filePath("in.json"), curves) ? dir.filePath("in.json") : "";
    }

    static QJsonArray result(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array()
                                              : QJsonArray();
    }

private slots:
    void curveText()
    {
        // Halfway between two 6-digit numbers Qt's form rounds away from zero.
        QCOMPARE(batchCurveText(QJsonDocument::fromJson(R"({"curve": [[1000, 1.5],
                   [0.1234567, -3], [123456789, 1e-7], ["x", null], [50], 7,
                   [1000.125, -0.0], [200000.5, -1000.375], [1e300, 5e-324]],
                   "coh": [[1000, 0.25], [1, "bad"]]})")
                                        .object()),
                 "# frequency_hz\tdb\tphase_deg\tcoherence\n1000\t1.5\t0\t0.25\n"
                 "0.123457\t-3\t0\t1\n1.23457e+08\t1e-07\t0\t1\n0\t0\t0\t1\n"
                 "1000.13\t0\t0\t1\n200001\t-1000.38\t0\t1\n1e+300\t4.94066e-324\t0\t1\n");
    }

    // Two resonances of +6 dB through the engine: every scheme cuts each by 3.5 to 7.5 dB; a
    // curve the core cannot load has no result and its file stays, in a folder of the run's own,
    // which a later batch leaves alone; "--scheme" 7 of 6 gives the last scheme's curves.
    void resonancesThroughTheEngine()
    {
        QJsonObject first = resonanceCurve("一号", 1000.0);
        first.insert("path", "a/一号.txt");
        const QString output = dir.filePath("deep/out.json");
        CoreBridge bridge;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^EQBATCH load failed short "));
        QTest::ignoreMessage(QtInfoMsg, qPrintable("EQBATCH done 2 curves -> " + output));
        QCOMPARE(EqBatch(&bridge, {input({first, resonanceCurve("short", 1000.0, 5),
                                          resonanceCurve("二号", 250.0)}),
                                   output, 7})
                         .run(),
                 0);

        const QJsonArray curves = readBatchResult(output);
        QCOMPARE(curves.size(), 2);
        QCOMPARE(curves[0]["path"].toString() + curves[1]["path"].toString(), "a/一号.txt");
        for (const auto &[curve, hz] : {std::pair{0, 1000.0}, std::pair{1, 250.0}}) {
            const QJsonArray schemes = curves[curve]["schemes"].toArray();
            QCOMPARE(schemes.size(), 6);
            for (const QJsonValue &scheme : schemes) {
                const QJsonObject cut = scheme["deepestCut"].toObject();
                QVERIFY2(std::abs(std::log2(cut["hz"].toDouble() / hz)) < 1.0 / 6.0
                                 && cut["gain"].toDouble() < -3.5 && cut["gain"].toDouble() > -7.5,
                         qPrintable(scheme["name"].toString()));
                if (scheme["targetIndex"].toInt() == 4) // the fill target locks a 120 Hz low cut
                    QVERIFY(scheme["hpf"].toDouble() == 120.0 && scheme["hpfOrder"].toInt() == 2);
            }
        }
        const QJsonObject last = result(output)[1].toObject();
        const snt::eq::Scheme &lastScheme = bridge.core.result().schemes[5];
        QCOMPARE(last["afterRaw"].toVariant(), pointMaps(lastScheme.freq, lastScheme.predicted));
        QCOMPARE(last["beforeSmooth"].toVariant(), pointMaps(lastScheme.freq, lastScheme.measured));

        const QFileInfo folder(QFileInfo(bridge.curveFiles.first()).absolutePath());
        QVERIFY(folder.absoluteFilePath() != QDir(QDir::tempPath()).absolutePath());
        QCOMPARE(folder.permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QDir(folder.absoluteFilePath()).entryList(QDir::Files),
                 QStringList{"sonetra-eq-batch-1.txt"});
        QTest::ignoreMessage(QtInfoMsg, qPrintable("EQBATCH done 0 curves -> " + output));
        QCOMPARE(EqBatch(&bridge, {input(QJsonArray()), output}).run(), 0);
        QCOMPARE(QDir(folder.absoluteFilePath()).entryList(QDir::Files),
                 QStringList{"sonetra-eq-batch-1.txt"});
        QDir(folder.absoluteFilePath()).removeRecursively();
    }

    // After a computation outlives its wait, the next curve still gets its own schemes; one the
    // bridge refuses to start is reported as such.
    void curvesWithoutTheirComputation()
    {
        CoreBridge bridge(countingCompute);
        const QString output = dir.filePath("timeout.json");
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH timeout slow");
        QCOMPARE(EqBatch(&bridge, {input({resonanceCurve("slow", 1000.0, 10),
                                          resonanceCurve("next", 1000.0, 12)}),
                                   output, 0, 150})
                         .run(),
                 0);
        const QJsonArray results = result(output);
        QCOMPARE(results[0]["schemes"].toArray(), QJsonArray());
        QCOMPARE(results[1]["schemes"][0]["name"].toString(), "12 points");
        QCOMPARE(readBatchResult(output).size(), 2);

        bridge.refuseStart = true;
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH not started one");
        EqBatch(&bridge, {input({resonanceCurve("one", 1000.0, 12)}), output}).run();
        QCOMPARE(result(output).first().toObject().value("schemes"), QJsonArray());
    }

    void endings()
    {
        const QString output = dir.filePath("none.json");
        CoreBridge bridge;
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH cannot open /nonexistent");
        QCOMPARE(EqBatch(&bridge, {"/nonexistent", output}).run(), 2);
        for (const QByteArray &empty : {QByteArray(R"({"curves": []})"), QByteArray("curves")}) {
            QTest::ignoreMessage(QtInfoMsg, qPrintable("EQBATCH done 0 curves -> " + output));
            QCOMPARE(EqBatch(&bridge, {input(empty), output}).run(), 0);
        }
        QObject incomplete;
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH the bridge lacks computing, corners, eqBands, "
                                           "loadCurveFile(), startCompute(), selectScheme(), "
                                           "schemeCurvePoints(), schemeSummaries()");
        QCOMPARE(EqBatch(&incomplete, {input(QByteArray("{}")), output}).run(), 3);
        QVERIFY(!QFile::exists(output));
    }

    void exportTestTakesTheNewestPack()
    {
        PackBridge bridge;
        QCOMPARE(runPackExportTest(&bridge), 5); // no pack at all: index -1, refused
        QCOMPARE(bridge.exported, -1);
        bridge.rootPacks = packs({2, 0});
        bridge.projects = {QVariantMap{{"packs", packs({5})}}, QVariantMap{{"packs", packs({})}}};
        QCOMPARE(runPackExportTest(&bridge), 0);
        QCOMPARE(bridge.exported, 5);
    }
};

SNT_TEST_MAIN(HeadlessModesTest)
#include "HeadlessModesTest.moc"
