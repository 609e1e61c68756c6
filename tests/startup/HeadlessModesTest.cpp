// The headless EQ batch over the application core and the real EQ engine, read back by an
// independent reader (read_batch_result.py), and the export test over a recording bridge.
#include "app/AppCore.h"
#include "startup/EqBatch.h"
#include "startup/PackExportTest.h"
#include "tests/startup/CoreBridge.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>

using namespace snt::startup;
using namespace snt::test;

namespace {

// A compute that names its one scheme after the number of points it was given, slowly for a
// curve of 10 points.
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
        return exports;
    }
    QVariantList rootPacks;
    QVariantList projects;
    bool exports = false;
    int exported = -100;
};

QJsonObject pointsCurve(const QString &name, int count)
{
    return resonanceCurve(name, 1000.0, count);
}

} // namespace

class HeadlessModesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeInput(const QJsonArray &curves)
    {
        const QString path = dir.filePath("in.json");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(QJsonDocument(QJsonObject{{"curves", curves}}).toJson());
        return path;
    }

    static QJsonArray readResult(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array()
                                              : QJsonArray();
    }

    // The independent reader's summary; fails the test when it rejects the form.
    static QJsonArray summary(const QString &path)
    {
        QProcess reader;
        reader.start("python3", {QFINDTESTDATA("read_batch_result.py"), path});
        if (!reader.waitForFinished(30000) || reader.exitCode() != 0) {
            qWarning().noquote() << reader.readAllStandardError();
            return {};
        }
        return QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    }

private slots:
    void curveText_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("text");
        const QByteArray header = "# frequency_hz\tdb\tphase_deg\tcoherence\n";
        QTest::newRow("numbers in 6 significant digits")
                << QByteArray(R"({"curve": [[1000, 1.5], [0.1234567, -3], [123456789, 1e-7]],
                                 "coh": [[1000, 0.25], [1, 1], [2, 0.999999999]]})")
                << header + "1000\t1.5\t0\t0.25\n0.123457\t-3\t0\t1\n1.23457e+08\t1e-07\t0\t1\n";
        QTest::newRow("short coherence reads 1 beyond its end")
                << QByteArray(R"({"curve": [[20, 0], [40, 1], [80, 2]], "coh": [[20, 0.5]]})")
                << header + "20\t0\t0\t0.5\n40\t1\t0\t1\n80\t2\t0\t1\n";
        QTest::newRow("entries that are not numbers")
                << QByteArray(R"({"curve": [["x", 2], [50, null]], "coh": [[0, "bad"], [0]]})")
                << header + "0\t2\t0\t1\n50\t0\t0\t1\n";
        QTest::newRow("short elements make no line")
                << QByteArray(R"({"curve": [[50], 7, [60, 1, 9]]})") << header + "60\t1\t0\t1\n";
        QTest::newRow("header always") << QByteArray("{}") << header;
    }

    void curveText()
    {
        QFETCH(QByteArray, input);
        QTEST(batchCurveText(QJsonDocument::fromJson(input).object()), "text");
    }

    // Two resonances of +6 dB through the engine: every scheme cuts each by 3.5 to 7.5 dB; a curve the core
    // cannot load has no result and its file stays; the detail block is the last scheme's.
    void resonancesThroughTheEngine()
    {
        QJsonObject first = resonanceCurve("一号", 1000.0);
        first.insert("path", "a/一号.txt");
        QJsonObject second = resonanceCurve("二号", 250.0);
        second.insert("coh", QJsonArray{QJsonArray{20, 0.9}});
        const QString input = writeInput({first, pointsCurve("short", 5), second});
        const QString output = dir.filePath("deep/folder/out.json");

        CoreBridge bridge;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^EQBATCH load failed short \\(kept .*/"
                                                "sonetra-eq-batch-1\\.txt\\)$"));
        QTest::ignoreMessage(QtInfoMsg, qPrintable("EQBATCH done 2 curves -> " + output));
        QCOMPARE(EqBatch(&bridge, {input, output, 7}).run(), 0);

        const QJsonArray curves = summary(output);
        QCOMPARE(curves.size(), 2);
        QCOMPARE(curves[0]["path"].toString(), QString("a/一号.txt"));
        QCOMPARE(curves[1]["path"].toString(), QString());
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
        QFile written(output);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();
        QCOMPARE(text, QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented));

        // "--scheme" 7 of 6: the last scheme, whose curves the bridge still shows.
        const QJsonObject last = readResult(output)[1].toObject();
        const QVariantMap curvesOfLast = bridge.schemeCurves(5);
        QCOMPARE(last["afterRaw"].toArray(),
                 QJsonArray::fromVariantList(curvesOfLast["after"].toList()));
        QCOMPARE(last["beforeSmooth"].toArray(),
                 QJsonArray::fromVariantList(curvesOfLast["before"].toList()));
        QCOMPARE(last["blocked"].toBool(), bridge.schemes()[5].toMap()["blocked"].toBool());

        // The curve files were written in a folder of the run's own, readable by no one else.
        const QStringList files = bridge.curveFiles.keys();
        QCOMPARE(files.size(), 3);
        const QFileInfo folder(QFileInfo(files.first()).absolutePath());
        QVERIFY(folder.absoluteFilePath() != QDir(QDir::tempPath()).absolutePath());
        QCOMPARE(folder.permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QDir(folder.absoluteFilePath()).entryList(QDir::Files),
                 QStringList{"sonetra-eq-batch-1.txt"});
        QDir(folder.absoluteFilePath()).removeRecursively();
    }

    // After a computation outlives its wait, the next curve still gets its own schemes.
    void timedOutCurveLeavesTheNextItsOwn()
    {
        CoreBridge bridge(countingCompute);
        const QString output = dir.filePath("timeout.json");
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH timeout slow");
        QCOMPARE(EqBatch(&bridge, {writeInput({pointsCurve("slow", 10), pointsCurve("next", 12)}),
                                   output, 0, 150})
                         .run(),
                 0);
        const QJsonArray results = readResult(output);
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0]["schemes"].toArray(), QJsonArray());
        QVERIFY(!results[0].toObject().contains("blocked"));
        QCOMPARE(results[1]["schemes"][0]["name"].toString(), QString("12 points"));
        QCOMPARE(summary(output).size(), 2);
    }

    void refusedStartIsReported()
    {
        CoreBridge bridge(countingCompute);
        bridge.refuseStart = true;
        const QString output = dir.filePath("refused.json");
        QTest::ignoreMessage(QtWarningMsg, "EQBATCH not started one");
        QCOMPARE(EqBatch(&bridge, {writeInput({pointsCurve("one", 12)}), output}).run(), 0);
        const QJsonObject result = readResult(output).first().toObject();
        QCOMPARE(result["schemes"].toArray(), QJsonArray());
        QCOMPARE(result["elapsedMs"].toInt(), 0);
    }

    void endings_data()
    {
        QTest::addColumn<QByteArray>("input"); // empty: no input file
        QTest::addColumn<bool>("completeBridge");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("input missing") << QByteArray() << true << 2 << "EQBATCH cannot open %in";
        QTest::newRow("no curves")
                << QByteArray(R"({"curves": []})") << true << 0 << "EQBATCH done 0 curves -> %out";
        QTest::newRow("not JSON") << QByteArray("curves") << true << 0
                                  << "EQBATCH done 0 curves -> %out";
        QTest::newRow("bridge without the scheme members")
                << QByteArray(R"({"curves": []})") << false << 3
                << "EQBATCH the bridge has no property computing";
    }

    void endings()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, completeBridge);
        QFETCH(QString, message);
        const QString inputPath = dir.filePath("endings.json");
        const QString output = dir.filePath("endings-out.json");
        QFile::remove(inputPath);
        QFile file(inputPath);
        if (!input.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
        file.close();
        CoreBridge bridge;
        QObject plain;
        QTest::ignoreMessage(message.startsWith("EQBATCH done") ? QtInfoMsg : QtWarningMsg,
                             qPrintable(message.replace("%in", inputPath).replace("%out", output)));
        if (!completeBridge)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^EQBATCH the bridge has no"));
        QTEST(EqBatch(completeBridge ? static_cast<QObject *>(&bridge) : &plain,
                      {inputPath, output})
                      .run(),
              "exitCode");
        QVERIFY(!QFile::exists(output));
    }

    void exportTestExportsTheNewestPack_data()
    {
        QTest::addColumn<QVariantList>("rootPacks");
        QTest::addColumn<QVariantList>("projects");
        QTest::addColumn<bool>("exports");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("exitCode");
        const QVariantList root{QVariantMap{{"index", 2}}, QVariantMap{{"index", 0}}};
        const QVariantList projects{QVariantMap{{"packs", QVariantList{QVariantMap{{"index", 5}}}}},
                                    QVariantMap{{"packs", QVariantList{QVariantMap{}}}}};
        QTest::newRow("newest in a project") << root << projects << true << 5 << 0;
        QTest::newRow("only root packs") << root << QVariantList{} << true << 2 << 0;
        QTest::newRow("export fails") << root << projects << false << 5 << 5;
        QTest::newRow("no pack at all") << QVariantList{} << QVariantList{} << false << -1 << 5;
    }

    void exportTestExportsTheNewestPack()
    {
        QFETCH(QVariantList, rootPacks);
        QFETCH(QVariantList, projects);
        QFETCH(bool, exports);
        PackBridge bridge;
        bridge.rootPacks = rootPacks;
        bridge.projects = projects;
        bridge.exports = exports;
        QTEST(runPackExportTest(&bridge), "exitCode");
        QTEST(bridge.exported, "index");
    }
};

SNT_TEST_MAIN(HeadlessModesTest)
#include "HeadlessModesTest.moc"
