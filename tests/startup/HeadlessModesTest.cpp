// The headless EQ batch over the application core and the real EQ engine, its result read back
// by an independent reader (read_batch_result.py), and the export test over a recording bridge.
#include "startup/EqBatch.h"
#include "startup/PackExportTest.h"
#include "tests/startup/CoreBridge.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

using namespace snt::startup;
using namespace snt::test;

namespace {

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
        return input(QJsonDocument(QJsonObject{{"curves", curves}}).toJson());
    }

    static QJsonArray result(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array()
                                              : QJsonArray();
    }

    // The independent reader's summary; empty when it rejects the file's form.
    static QJsonArray readBack(const QString &path)
    {
        QProcess reader;
        reader.start("python3", {QFINDTESTDATA("read_batch_result.py"), path});
        reader.waitForFinished(30000);
        if (reader.exitCode() != 0)
            qWarning().noquote() << reader.readAllStandardError();
        return QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    }

private slots:
    void curveText()
    {
        QCOMPARE(batchCurveText(QJsonDocument::fromJson(R"({"curve": [[1000, 1.5],
                   [0.1234567, -3], [123456789, 1e-7], ["x", null], [50], 7],
                   "coh": [[1000, 0.25], [1, "bad"]]})")
                                        .object()),
                 "# frequency_hz\tdb\tphase_deg\tcoherence\n1000\t1.5\t0\t0.25\n"
                 "0.123457\t-3\t0\t1\n1.23457e+08\t1e-07\t0\t1\n0\t0\t0\t1\n");
    }

    // Two resonances of +6 dB through the engine: every scheme cuts each by 3.5 to 7.5 dB; a
    // curve the core cannot load has no result and its file stays, in a folder of the run's own;
    // "--scheme" 7 of 6 gives the last scheme's curves.
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

        const QJsonArray curves = readBack(output);
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
        const QVariantMap curvesOfLast = bridge.schemeCurves(5);
        QCOMPARE(last["afterRaw"].toVariant(), curvesOfLast["after"]);
        QCOMPARE(last["beforeSmooth"].toVariant(), curvesOfLast["before"]);

        const QFileInfo folder(QFileInfo(bridge.curveFiles.first()).absolutePath());
        QVERIFY(folder.absoluteFilePath() != QDir(QDir::tempPath()).absolutePath());
        QCOMPARE(folder.permissions() & 0x0077, QFileDevice::Permissions());
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
        QCOMPARE(readBack(output).size(), 2);

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
        QTest::ignoreMessage(QtWarningMsg,
                             "EQBATCH the bridge lacks computing, schemes, schemeBefore, "
                             "schemeAfter, corners, eqBands, loadCurveFile(), startCompute(), "
                             "selectScheme(), schemeCurves()");
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
