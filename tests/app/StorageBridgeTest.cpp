#include "app/AppCore.h"
#include "app/PackTextExport.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "files/DataFolder.h"
#include "tests/app/StoreBridgeSupport.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <cmath>

using namespace storebridge;

namespace {

// The data folder as an independent reader sees it: project files, root file, decoded captures.
QJsonObject filesOnDisk()
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QFINDTESTDATA("store_snapshot.py"), documentsRoot()});
    reader.waitForFinished(30000);
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

QJsonArray rootPacksOnDisk()
{
    return filesOnDisk().value("root").toObject().value("packs").toArray();
}

QString desktop()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

// "f\tlevel\tphase\tcoherence" with 4 decimals, "*" past a list's end.
QByteArray rows(const QList<float> &f, const QList<float> &d, const QList<float> &p,
                const QList<float> &c)
{
    QByteArray text;
    const auto cell = [](const QList<float> &list, qsizetype i) {
        return i < list.size() ? QByteArray::number(list[i], 'f', 4) : QByteArray("*");
    };
    for (qsizetype i = 0; i < f.size(); ++i)
        text += cell(f, i) + '\t' + cell(d, i) + '\t' + cell(p, i) + '\t' + cell(c, i) + '\n';
    return text;
}

QByteArray header(const char *target, qsizetype points, const char *state)
{
    return QByteArray("\xEF\xBB\xBF# target: ") + target + "\n# points: "
           + QByteArray::number(points) + "\n# smoothing: 不平滑\n# state: " + state
           + "\n# frequency_hz\tdb\tphase_deg\tcoherence\n";
}

// Every point of a chart curve within 0.001 of `expected`, and there are points.
bool allNear(const QVariant &points, double expected)
{
    const QVariantList list = points.toList();
    return !list.isEmpty() && std::all_of(list.cbegin(), list.cend(), [&](const QVariant &p) {
        return std::abs(p.toMap().value("d").toDouble() - expected) <= 1e-3;
    });
}

} // namespace

// What the bridge keeps of a user's work, checked on disk: results saved as packs, projects,
// the packs' curves in the curve window, their text export and the calibration files.
class StorageBridgeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        static const auto plugin = std::make_shared<FakePlugin>(QStringLiteral("Fake"));
        plugin->rows = {row("mic", "USB Mic", "Fake"), row("line", "Line In", "Fake")};
        plugin->defaultInput = QStringLiteral("mic");
        QVERIFY(audio::Client::setPluginFactories({[] {
            return plugin;
        }}));
    }

    void init()
    {
        QDir(documentsRoot()).removeRecursively();
        QDir(desktop()).removeRecursively();
        QSettings().clear();
    }

    // A computed result saved as a pack: the capture holds the loaded curve relative to the
    // scheme's level; saving again changes nothing; another scheme updates the same pack under
    // new capture files; a full disk saves nothing and says so; a deleted pack is saved anew.
    void resultsAreSavedAsPacks()
    {
        const QList<float> freq = logGrid(400, 20.0, 20000.0), db = speakerDb(freq);
        QByteArray text = "# Delay: 5 ms\n";
        for (qsizetype i = 0; i < freq.size(); ++i)
            text += QByteArray::number(freq[i], 'g', 9) + ' ' + QByteArray::number(db[i], 'g', 9)
                    + " 0 0.95\n";
        const QString curveFile = QDir::homePath() + "/curve one.txt";
        QVERIFY(putBytes(curveFile, text));
        QmlBridge bridge;
        QVERIFY(!bridge.loadCurveFile(QDir::homePath() + "/missing.txt"));
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线文件读不进来"));
        QVERIFY(bridge.loadCurveFile(QUrl::fromLocalFile(curveFile).toString()));
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        AppCore &core = bridge.core();
        QVERIFY(core.result().schemes.size() >= 3);
        QCOMPARE(bridge.property("curveBundles").toList().size(), core.result().schemes.size());

        bridge.saveSelectedPack();
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线已放进「未归属」"));
        QJsonArray packs = rootPacksOnDisk();
        QCOMPARE(packs.size(), 1);
        const QJsonObject first = packs[0].toObject();
        QVERIFY(first.value("name").toString().endsWith(" 01"));
        QCOMPARE(first.value("delayMs").toDouble(), 5.0);
        const QJsonObject capture = filesOnDisk()
                                            .value("captures")
                                            .toObject()
                                            .value(first.value("rawFile").toString())
                                            .toObject();
        QVERIFY(capture.value("n").toInt() == 400 && capture.value("trailing").toInt() == 0);
        const QJsonArray level = capture.value("level").toArray();
        const double reference = db[200] - level[200].toDouble(); // about 630 Hz, no floor there
        for (qsizetype i = 0; i < freq.size(); ++i) {
            QCOMPARE(float(capture.value("freq").toArray()[i].toDouble()), freq[i]);
            QVERIFY(std::abs(level[i].toDouble() - std::max(db[i] - reference, -60.0)) < 1e-3);
        }

        bridge.clearToast();
        bridge.saveSelectedPack();
        QVERIFY(bridge.toastText().isEmpty());
        QCOMPARE(rootPacksOnDisk(), packs);

        core.setSelectedScheme(1);
        bridge.saveSelectedPack();
        QCOMPARE(bridge.toastText(), QStringLiteral("这条曲线已更新"));
        packs = rootPacksOnDisk();
        QCOMPARE(packs.size(), 1);
        const QString rawFile = packs[0].toObject().value("rawFile").toString();
        QVERIFY(rawFile != first.value("rawFile").toString());
        QCOMPARE(filesOnDisk().value("captures").toObject().keys(), QStringList{rawFile});

        core.setSelectedScheme(2);
        {
            const FileSizeLimit fullDisk(1024);
            bridge.saveSelectedPack();
        }
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线没存上，请检查文档文件夹能否写入"));
        QCOMPARE(rootPacksOnDisk(), packs);

        QVERIFY(bridge.deleteCurvePack(0));
        QVERIFY(bridge.toastText().endsWith(" 已删除"));
        QVERIFY(filesOnDisk().value("captures").toObject().isEmpty());
        bridge.saveSelectedPack();
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线已放进「未归属」"));
        QCOMPARE(QmlBridge().rootPacks().size(), 1); // a bridge started afterwards reads it
    }

    // With a project file that cannot be written (an earlier version wrote it without its curve
    // count, so once the store read it every save rewrites it, and the disk has no room for it)
    // and a root file that can, every save fails and changes no file: what the screens show after
    // saving a result, deleting and moving a pack, renaming the project and editing the saved
    // pack's bands is what a restart reads.
    void failedSavesShowWhatTheFilesHold()
    {
        const QString curve = writeSpeakerCurve();
        QmlBridge bridge;
        AppCore &core = bridge.core();
        QVERIFY(bridge.loadCurveFile(curve));
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("大厅")));
        CurvePack large;
        large.name = QStringLiteral("大厅 01");
        large.project = QStringLiteral("大厅");
        large.freq = logGrid(8, 100, 800);
        large.level = QList<float>(8, 0.0f);
        large.bands = QList<snt::eq::SchemeBand>(500, {100.0f, -3.0f, 1.4f, true});
        QVERIFY(core.store().savePack(large, -1));
        storedPack(core, "主扩 01", logGrid(8, 100, 800), QList<float>(8, 0.0f));
        const QString hall = projectsDir() + QStringLiteral("/大厅.json");
        QJsonObject olderHall = QJsonDocument::fromJson(fileBytes(hall)).object();
        olderHall.remove("curves");
        QVERIFY(putBytes(hall, QJsonDocument(olderHall).toJson(QJsonDocument::Compact)));
        QVERIFY(QFileInfo(hall).size() > 16384);
        bridge.openCurveWindow();

        // Every pack on the screens: its project, name and curve with its EQ.
        const auto shown = [](QmlBridge &screens) {
            QVariantList summaries = screens.rootPacks();
            for (const QVariant &project : screens.projects())
                summaries += project.toMap().value("packs").toList();
            QStringList packs;
            for (const QVariant &summary : std::as_const(summaries)) {
                const QVariantMap pack = summary.toMap();
                const QVariantList after = screens.curvePackDetail(pack.value("index").toInt())
                                                   .value("after")
                                                   .toList();
                packs.append(QStringLiteral("%1|%2|%3")
                                     .arg(pack.value("project").toString(),
                                          pack.value("name").toString(),
                                          QJsonDocument::fromVariant(after).toJson(
                                                  QJsonDocument::Compact)));
            }
            packs.sort();
            return packs;
        };
        const auto restarted = [&shown] {
            QmlBridge again;
            return shown(again);
        };
        const auto indexOf = [&bridge](const QString &name) {
            for (const QVariant &pack : bridge.rootPacks()) {
                if (pack.toMap().value("name") == name)
                    return pack.toMap().value("index").toInt();
            }
            return -1;
        };
        const auto unchanged = [&, before = fileBytes(curvePackRootFile())] {
            return fileBytes(curvePackRootFile()) == before;
        };
        {
            const FileSizeLimit fullDisk(16384);
            bridge.saveSelectedPack();
            QCOMPARE(bridge.toastText(), QStringLiteral("曲线没存上，请检查文档文件夹能否写入"));
            QCOMPARE(shown(bridge), restarted());
            QVERIFY(!bridge.deleteCurvePack(indexOf("主扩 01")));
            QCOMPARE(bridge.toastText(), QStringLiteral("没删掉，请检查文档文件夹能否写入"));
            QCOMPARE(shown(bridge), restarted());
            QVERIFY(!bridge.movePack(indexOf("主扩 01"), -1, QStringLiteral("大厅")));
            QCOMPARE(shown(bridge), restarted());
            QVERIFY(unchanged());
            QVERIFY(bridge.renameProject(QStringLiteral("大厅"), QStringLiteral("礼堂")));
            QCOMPARE(shown(bridge), restarted());
        }
        bridge.saveSelectedPack();
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线已放进「未归属」"));
        QJsonObject olderAuditorium
                = QJsonDocument::fromJson(fileBytes(projectsDir() + "/礼堂.json")).object();
        olderAuditorium.remove("curves");
        QVERIFY(putBytes(projectsDir() + QStringLiteral("/礼堂.json"),
                         QJsonDocument(olderAuditorium).toJson(QJsonDocument::Compact)));
        bridge.openCurveWindow();
        const QStringList saved = shown(bridge);
        {
            const FileSizeLimit fullDisk(16384);
            const QVariantMap band = bridge.eqBands().value(0).toMap();
            bridge.updateEqBand(0, band.value("freq").toDouble(), band.value("q").toDouble(),
                                band.value("gain").toDouble() - 2.0);
            QTRY_COMPARE(bridge.toastText(),
                         QStringLiteral("曲线的改动没存上，请检查文档文件夹能否写入"));
            QCOMPARE(shown(bridge), saved);
            QCOMPARE(restarted(), saved);
        }
    }

    // Another program adds a pack to the root file or to a project file while the program runs
    // with the curve window open. Whatever the user does next that writes the file (a band edit
    // of a pack there, saved a moment later in the background; a new result; a deletion; a move
    // in or out) keeps that pack, and the window lists what the file holds, as a restart does.
    void packsAnotherProgramAddsAreKept_data()
    {
        QTest::addColumn<QString>("project"); // of the file; empty: the root file
        QTest::addColumn<QString>("action");
        for (const QString &project : {QString(), QStringLiteral("甲")}) {
            for (const char *action :
                 {"band edit", "new result", "deletion", "move in", "move out"})
                QTest::addRow("%s, %s", project.isEmpty() ? "root file" : "project file", action)
                        << project << QString::fromLatin1(action);
        }
    }

    void packsAnotherProgramAddsAreKept()
    {
        QFETCH(QString, project);
        QFETCH(QString, action);
        const QString curve = writeSpeakerCurve();
        QmlBridge bridge;
        AppCore &core = bridge.core();
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("甲")));
        const auto computeAndSave = [&] {
            QVERIFY(bridge.loadCurveFile(curve));
            bridge.startCompute();
            QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
            bridge.saveSelectedPack();
        };
        computeAndSave();
        const QString bound = core.result().pack.name;
        QVERIFY(!storedPack(core, "根二", logGrid(8, 100, 800), QList<float>(8, 0.0f))
                         .name.isEmpty());
        QVERIFY(!storedPack(core, "甲一", logGrid(8, 100, 800), QList<float>(8, 0.0f), "甲")
                         .name.isEmpty());
        if (!project.isEmpty())
            QVERIFY(bridge.movePack(listIndex(bridge, bound), -1, project));
        bridge.setCurveWindowOpen(true);
        const QString path = project.isEmpty() ? curvePackRootFile()
                                               : projectsDir() + QStringLiteral("/甲.json");
        QVERIFY(addForeignPack(path, QStringLiteral("外来 01")));

        const QString here = project.isEmpty() ? QStringLiteral("根二") : QStringLiteral("甲一");
        const QString there = project.isEmpty() ? QStringLiteral("甲一") : QStringLiteral("根二");
        const QString elsewhere = project.isEmpty() ? QStringLiteral("甲") : QString();
        QStringList expected = packNamesIn(path);
        if (action == "band edit") {
            const QSignalSpy saved(&core, &AppCore::curvePacksSaved);
            const QVariantMap band = bridge.eqBands().value(0).toMap();
            bridge.updateEqBand(0, band.value("freq").toDouble(), band.value("q").toDouble(),
                                band.value("gain").toDouble() - 2.0);
            QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
            QVERIFY(saved[0][0].toBool());
            const QJsonArray packs = QJsonDocument::fromJson(fileBytes(path))["packs"].toArray();
            const QJsonValue edited = packs[expected.indexOf(bound)]["bands"][0]["gain"];
            QCOMPARE(float(edited.toDouble()), float(band.value("gain").toDouble() - 2.0));
        } else if (action == "new result") {
            computeAndSave();
            if (project.isEmpty())
                expected << core.result().pack.name;
        } else if (action == "deletion") {
            QVERIFY(bridge.deleteCurvePack(listIndex(bridge, here)));
            expected.removeOne(here);
        } else if (action == "move in") {
            QVERIFY(bridge.movePack(listIndex(bridge, there), -1, project));
            expected << there;
        } else {
            QVERIFY(bridge.movePack(listIndex(bridge, here), -1, elsewhere));
            expected.removeOne(here);
        }
        QVERIFY(expected.contains(QStringLiteral("外来 01")));
        QCOMPARE(packNamesIn(path), expected);
        // A save that wrote the file read it again; one that did not touch it leaves the list
        // as it was until the window is opened again.
        if (project.isEmpty() || action != "new result")
            QCOMPARE(listedIn(bridge, project), expected);
        bridge.setCurveWindowOpen(false);
        bridge.setCurveWindowOpen(true);
        QCOMPARE(listedIn(bridge, project), expected);
        QCOMPARE(listedIn(QmlBridge(), project), expected);
    }

    // Another program changes the bands of a pack the user then edits, or moves into a project.
    // The save writes no file, not even the project file the move would have filled; the user is
    // told which file and pack, and the window shows the other program's version.
    void aChangeThatMeetsAnotherProgramsIsNotSaved_data()
    {
        QTest::addColumn<bool>("move");
        QTest::newRow("band edit") << false;
        QTest::newRow("move into a project") << true;
    }

    void aChangeThatMeetsAnotherProgramsIsNotSaved()
    {
        QFETCH(bool, move);
        const QString curve = writeSpeakerCurve();
        QmlBridge bridge;
        AppCore &core = bridge.core();
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("甲")));
        QVERIFY(bridge.loadCurveFile(curve));
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        bridge.saveSelectedPack();
        const QString bound = core.result().pack.name;
        QJsonObject root = QJsonDocument::fromJson(fileBytes(curvePackRootFile())).object();
        QJsonArray packs = root.value("packs").toArray();
        QJsonObject theirs = packs[0].toObject();
        theirs.insert("bands", QJsonArray{QJsonObject{{"freq", 500}, {"gain", -6.5}, {"q", 2}}});
        packs[0] = theirs;
        root.insert("packs", packs);
        QVERIFY(putBytes(curvePackRootFile(), QJsonDocument(root).toJson(QJsonDocument::Compact)));
        const QByteArray rootText = fileBytes(curvePackRootFile());
        const QString project = projectsDir() + QStringLiteral("/甲.json");
        const QByteArray projectText = fileBytes(project);

        if (move) {
            QVERIFY(!bridge.movePack(listIndex(bridge, bound), -1, QStringLiteral("甲")));
        } else {
            const QSignalSpy saved(&core, &AppCore::curvePacksSaved);
            const QVariantMap band = bridge.eqBands().value(0).toMap();
            bridge.updateEqBand(0, band.value("freq").toDouble(), band.value("q").toDouble(),
                                band.value("gain").toDouble() - 2.0);
            QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
            QVERIFY(!saved[0][0].toBool());
        }
        QCOMPARE(fileBytes(curvePackRootFile()), rootText);
        QCOMPARE(fileBytes(project), projectText);
        QTRY_COMPARE(bridge.toastText(),
                     QStringLiteral("「curve_packs_root.json」刚被别的程序改过，曲线包「%1」这次的"
                                    "改动和它对不上，没有存；列表已按文件重新读出")
                             .arg(bound));
        QCOMPARE(listedIn(bridge, QString()), QStringList{bound});
        const CurvePack &shown = core.store().curvePacks[listIndex(bridge, bound)];
        QVERIFY(shown.bands.size() == 1 && shown.bands[0].gain == -6.5f);
    }

    // The delayed save of an edit that would make its file too large to be read back is refused,
    // and the toast left shown is the store's reason, not a guess at an unwritable folder.
    void aRefusedSaveKeepsItsReasonShown()
    {
        const QString curve = writeSpeakerCurve();
        QmlBridge bridge;
        AppCore &core = bridge.core();
        QVERIFY(bridge.loadCurveFile(curve));
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        bridge.saveSelectedPack();
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线已放进「未归属」"));

        // A pack whose notes fill the root file, as compact as JSON is, to 20 bytes short of the
        // store's limit.
        constexpr qsizetype limit = qsizetype(64) << 20;
        QJsonObject root = QJsonDocument::fromJson(fileBytes(curvePackRootFile())).object();
        QJsonObject notes = root.value("packs")[0].toObject();
        notes.insert("name", "备注");
        notes.insert("rawFile", "");
        notes.insert("question", "");
        QJsonArray packs = root.value("packs").toArray();
        packs.append(notes);
        root.insert("packs", packs);
        const qsizetype fill
                = limit - 20 - QJsonDocument(root).toJson(QJsonDocument::Compact).size();
        notes.insert("question", QString(fill, QLatin1Char('x')));
        packs[1] = notes;
        root.insert("packs", packs);
        QVERIFY(putBytes(curvePackRootFile(), QJsonDocument(root).toJson(QJsonDocument::Compact)));
        QCOMPARE(QFileInfo(curvePackRootFile()).size(), limit - 20);
        core.store().loadCurvePacks();
        QCOMPARE(core.store().curvePacks.size(), 2);

        const QSignalSpy saved(&core, &AppCore::curvePacksSaved);
        const qsizetype bands = bridge.eqBands().size();
        bridge.addEqBand();
        QCOMPARE(bridge.eqBands().size(), bands + 1);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
        QVERIFY(!saved[0][0].toBool());
        QVERIFY2(bridge.toastText().startsWith("「curve_packs_root.json」再大就读不回来了"),
                 qPrintable(bridge.toastText()));
        QCOMPARE(QFileInfo(curvePackRootFile()).size(), limit - 20);
    }

    // Names that would leave the projects folder or clash are refused with a toast; renaming
    // takes only a listed project and keeps its packs; deleting goes file first and refuses a
    // project file that cannot be deleted.
    void projectsKeepToTheirFolder()
    {
        QmlBridge bridge;
        bridge.createProject(QStringLiteral("  大厅 "));
        QVERIFY(bridge.projectName() == "大厅" && !bridge.freshInstall());
        for (const char *name : {"a/b", "../x", "a:b", "..\\y"}) {
            bridge.createProject(QString::fromUtf8(name));
            QCOMPARE(bridge.toastText(), QStringLiteral("工程名里不能有这些符号"));
        }
        const QList<std::pair<const char *, const char *>> refused{
                {" ", "工程名不能空着"},
                {"x|y", "工程名里不能有这些符号"},
                {" 大厅", "这个工程已经有了"},
                {".hidden", "工程名不能以“.”开头"}};
        for (const auto &[name, toast] : refused) {
            QVERIFY(!bridge.createProjectInWindow(QString::fromUtf8(name)));
            QCOMPARE(bridge.toastText(), QString::fromUtf8(toast));
        }
        QCOMPARE(filesOnDisk().value("projects").toObject().keys(), QStringList{"大厅"});
        QVERIFY(!QFileInfo::exists(documentsRoot() + "/x.json"));

        const CurvePack pack = storedPack(bridge.core(), "主扩 01", logGrid(8, 100, 800),
                                          QList<float>(8, 0.0f), "大厅");
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("剧场")));
        bridge.clearToast();
        QVERIFY(!bridge.renameProject("大厅", " 大厅 ") && bridge.toastText().isEmpty());
        QVERIFY(!bridge.renameProject("../剧场", "新"));
        QCOMPARE(bridge.toastText(), QStringLiteral("工程文件找不到了"));
        QVERIFY(!bridge.renameProject("大厅", "剧场"));
        QCOMPARE(bridge.toastText(), QStringLiteral("这个工程已经有了"));
        bridge.openProject(projectIndex(bridge, "大厅"));
        QVERIFY(bridge.projectName() == "大厅" && bridge.renameProject("大厅", "礼堂"));
        QCOMPARE(bridge.projectName(), QStringLiteral("礼堂"));
        QJsonObject projects = filesOnDisk().value("projects").toObject();
        QCOMPARE(projects.keys(), (QStringList{"剧场", "礼堂"}));
        QCOMPARE(projects.value("礼堂").toObject().value("packs").toArray()[0].toObject().value(
                         "rawFile"),
                 pack.rawFile);

        const int listed = projectIndex(bridge, "礼堂");
        {
            const ReadOnlyFolder readOnly(projectsDir());
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be deleted"));
            bridge.deleteProject(listed);
        }
        QCOMPARE(bridge.toastText(), QStringLiteral("工程没删掉，请检查文档文件夹能否写入"));
        QVERIFY(filesOnDisk().value("captures").toObject().contains(pack.rawFile));
        bridge.deleteProject(listed);
        QCOMPARE(filesOnDisk().value("projects").toObject().keys(), QStringList{"剧场"});
        QVERIFY(filesOnDisk().value("captures").toObject().isEmpty());
        QVERIFY(bridge.projectName().isEmpty() && bridge.freshInstall());
    }

    // The summaries follow the chart's smoothing; moving a pack into a project and back; the
    // detail curves of an ordinary pack, a subwoofer alignment and a line array against what
    // their data say.
    void packsShowTheirCurves()
    {
        QmlBridge bridge;
        AppCore &core = bridge.core();
        // Wider than the display grid, which reads -100 dB outside a curve's range.
        const QList<float> flat(400, 0.0f), freq = logGrid(400, 19.0, 21000.0);
        storedPack(core, "主扩 01", freq, flat);
        bridge.setSmoothingBands(12);
        const QVariantMap summary = bridge.rootPacks().value(0).toMap();
        QVERIFY(summary.value("smoothBands") == 12
                && summary.value("smoothingLabel") == "1/12 OCT");
        bridge.createProjectInWindow(QStringLiteral("大厅"));
        QVERIFY(!bridge.movePack(0, 2, QString()) && bridge.movePack(0, -1, "大厅"));
        QCOMPARE(bridge.toastText(), QStringLiteral("已移进「大厅」"));
        QVERIFY(bridge.rootPacks().isEmpty());
        QCOMPARE(bridge.projects()[0].toMap().value("curves").toInt(), 2);
        QVERIFY(bridge.movePack(0, 1, QString()));
        QCOMPARE(bridge.toastText(), QStringLiteral("已移到「未归属」"));
        const QVariantMap ordinary = bridge.curvePackDetail(0);
        QVERIFY(allNear(ordinary.value("after"), 0.0));
        QVERIFY(!ordinary.contains("target") && !ordinary.contains("isArray"));

        // A subwoofer alignment with both captures (flat, in phase, the subwoofer inverted).
        bridge.setSmoothingBands(0);
        CurvePack aligned = core.store().curvePacks[0];
        aligned.freq2 = freq;
        aligned.level2 = flat;
        aligned.phase2 = aligned.phase;
        aligned.subAlign = QJsonObject{{"delayMs", 0.0}, {"invert", true}};
        QVERIFY(core.store().savePack(aligned, 0));
        QVariantMap detail = bridge.curvePackDetail(0);
        QVERIFY(allNear(detail.value("third"), 20.0 * std::log10(2.0)));
        QVERIFY(allNear(detail.value("phaseBefore"), 180.0));
        QVERIFY(allNear(detail.value("phaseAfter"), 0.0));

        // A line array: a point of 7 values is left out.
        CurvePack array = aligned;
        array.subAlign = {};
        array.use = QStringLiteral("线阵列");
        array.freq = freq;
        array.pointFreq = {freq.first(7), freq};
        array.pointLevel = {QList<float>(7, 1.0f), QList<float>(400, 2.0f)};
        core.store().curvePacks[0] = array; // a point of 7 values is never written to a file
        detail = bridge.curvePackDetail(0);
        QCOMPARE(detail.value("pointCount").toInt(), 1);
        QVERIFY(allNear(detail.value("pointCurves").toList()[0].toMap().value("points"), 0.0));
    }

    // What lies in the data folder need not be a file of ours (a FIFO, a link to a device): the
    // start is not held up, the rest loads, and a toast names what was passed over; a pack whose
    // capture is such a file says so when it is opened.
    void specialFilesArePassedOverAndNamed()
    {
        QString rawFile;
        {
            QmlBridge first;
            rawFile = storedPack(first.core(), "主扩 01", logGrid(8, 100, 800),
                                 QList<float>(8, 0.0f))
                              .rawFile;
            QVERIFY(first.createProjectInWindow(QStringLiteral("大厅")));
        }
        QVERIFY(QFile::remove(rawDir() + "/" + rawFile) && putFifo(rawDir() + "/" + rawFile));
        QVERIFY(putFifo(projectsDir() + QStringLiteral("/管道.json")));
        QmlBridge bridge;
        QTRY_VERIFY2(bridge.toastText().contains(QStringLiteral("「管道.json」")),
                     qPrintable(bridge.toastText()));
        QCOMPARE(bridge.projects().size(), 1);
        QCOMPARE(bridge.rootPacks().size(), 1);
        QVERIFY(bridge.curvePackDetail(0).value("after").toList().isEmpty());
        QVERIFY(bridge.toastText().contains("「" + rawFile + "」"));

        QVERIFY(QFile::remove(curvePackRootFile()) && putEndlessLink(curvePackRootFile()));
        QmlBridge again;
        QTRY_VERIFY(again.toastText().contains(QStringLiteral("「curve_packs_root.json」")));
        QVERIFY(again.toastText().contains(QStringLiteral("「管道.json」")));
        QVERIFY(again.projects().size() == 1 && again.rootPacks().isEmpty());
    }

    // A save drops the packs of an older format from their file, as ever, but only once a copy
    // beside it holds them, and a toast names them.
    void oldPacksAreNamedWhenSetAside()
    {
        QVERIFY(putBytes(curvePackRootFile(), R"({"packs": [{"schema": 2, "name": "旧 01"},
                                                  {"schema": 3, "name": "新 01"}]})"));
        QmlBridge bridge;
        QCOMPARE(bridge.rootPacks().size(), 1);
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("大厅")));
        QVERIFY(bridge.movePack(0, -1, QStringLiteral("大厅")));
        QTRY_VERIFY2(bridge.toastText().contains(QStringLiteral("「旧 01」")),
                     qPrintable(bridge.toastText()));
        const QDir curves(documentsRoot() + QStringLiteral("/曲线"));
        const QStringList copies = curves.entryList({"curve_packs_root.json.old-packs-*"});
        QCOMPARE(copies.size(), 1);
        QVERIFY(bridge.toastText().contains(copies[0]));
        QVERIFY(fileBytes(curves.filePath(copies[0])).contains("旧 01"));
    }

    // The export's files byte for byte: the measured curve with its delay put back, the
    // curve with the EQ, a line array's usable points with their own numbers, and the
    // alignment's three curves; a folder or file that cannot be written is reported.
    void exportsWriteEveryCurveFile()
    {
        QmlBridge bridge;
        AppCore &core = bridge.core();
        const QList<float> f = {100, 200, 300, 400, 500, 600, 700, 800},
                           level = {-1.5f, -1, -0.5f, 0, 0.5f, 1, 1.5f, 2};
        CurvePack pack = storedPack(core, "主扩/01", f, level);
        pack.delayMs = 2.0;
        for (qsizetype i = 0; i < f.size(); ++i)
            pack.phase[i] = float(30.0 - f[i] * 0.72); // a 2 ms delay and 30°
        pack.coherence = QList<float>(7, 0.5f);
        pack.use = QStringLiteral("线阵列");
        pack.pointFreq = {f.first(7), f};
        pack.pointLevel = {QList<float>(7, 1.0f), QList<float>(8, 10.0f)};
        core.store().curvePacks[0] = pack; // a point of 7 values is never written to a file
        QVERIFY(bridge.exportCurvePack(0));
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线已导出到桌面"));
        const QString folder = desktop() + "/主扩_01_导出";
        QCOMPARE(fileBytes(folder + "/平均.txt"),
                 header("主扩/01 平均", 8, "原始")
                         + rows(f, level, QList<float>(8, 30.0f), QList<float>(7, 0.5f)));
        QVERIFY(fileBytes(folder + "/处理后.txt")
                        .startsWith(header("主扩/01 处理后", 480, "处理后")));
        QCOMPARE(QDir(folder + "/测点").entryList(QDir::Files), QStringList{"点2.txt"});
        QCOMPARE(fileBytes(folder + "/测点/点2.txt"),
                 header("主扩/01 点2", 8, "原始") + rows(f, QList<float>(8, 0.0f), {}, {}));

        pack.subAlign = QJsonObject{{"delayMs", 1.0}};
        pack.curves = {QList<float>(266, -3.0f), QList<float>(266, 1.0f), QList<float>(200, 2.0f)};
        core.store().curvePacks[0] = pack;
        QVERIFY(bridge.exportCurvePack(0));
        const QList<QByteArray> lines = fileBytes(folder + "/耦合.txt").split('\n');
        QVERIFY(lines.size() == 5 + 266 + 1 && lines[0].endsWith("# target: 主扩/01 耦合"));
        QVERIFY(lines[5 + 199].endsWith("\t2.0000\t*\t*") && lines[5 + 200].endsWith("\t*\t*\t*"));

        QVERIFY(putBytes(desktop() + "/主扩_01_导出/原始.txt/blocked", "a folder in the way"));
        pack.subAlign = {};
        pack.use = QStringLiteral("主扩");
        core.store().curvePacks[0] = pack;
        QVERIFY(QFile::remove(folder + "/处理后.txt"));
        QVERIFY(!bridge.exportCurvePack(0));
        QCOMPARE(bridge.toastText(), QStringLiteral("曲线没能全部导出，请检查桌面文件夹能否写入"));
        QVERIFY(QFile::exists(folder + "/处理后.txt")); // the others are still written
        QDir(folder).removeRecursively();
        QVERIFY(putBytes(folder, "a file where the folder belongs"));
        QVERIFY(!bridge.exportCurvePack(0));

        core.store().curvePacks[0].freq.clear();
        core.store().curvePacks[0].rawFile = QStringLiteral("gone.raw");
        QVERIFY(!bridge.exportCurvePack(0));
        QCOMPARE(bridge.toastText(), QStringLiteral("这个包还没有曲线"));
        QCOMPARE(PackTextExport::folderFor(QString()), desktop() + "/曲线包_导出");
        QCOMPARE(PackTextExport::folderFor("a\\b:c*d?\"<>|"), desktop() + "/a_b_c_d______导出");
    }

    // A line array's points file larger than 64 points of a measurement's bins fill (here two
    // points of 1,100,000 values, each within a point's limit) is no file the program wrote: it
    // is refused at once when the pack is opened and when it is exported, and a toast names it.
    void oversizedPointsFilesAreRefusedAndNamed()
    {
        QmlBridge bridge;
        AppCore &core = bridge.core();
        CurvePack array;
        array.name = QStringLiteral("大阵列");
        array.use = QStringLiteral("线阵列");
        array.freq = logGrid(16, 100.0, 10000.0);
        array.level = QList<float>(16, 0.0f);
        array.pointFreq = {array.freq};
        array.pointLevel = {QList<float>(16, 1.0f)};
        QVERIFY(core.store().savePack(array, -1));
        const QString name = core.store().curvePacks.last().pointsFile;
        const qint64 n = 1100000;
        QFile file(rawDir() + "/" + name); // sparse: zeros but for the counts
        QByteArray header("SNTPTS1\x02\0\0\0", 11);
        header += QByteArray(4, '\0');
        qToLittleEndian(qint32(n), header.data() + 7 + 4);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(header) == 15
                && file.seek(11 + 4 + 16 * n) && file.write(header.last(4)) == 4
                && file.resize(11 + 2 * (4 + 16 * n)));
        file.close();
        core.store().loadCurvePacks(); // the points unread again, as after a start

        const QVariantMap detail = bridge.curvePackDetail(0);
        QVERIFY(detail.value("pointCurves").toList().isEmpty());
        QVERIFY2(bridge.toastText().contains("「" + name + "」"), qPrintable(bridge.toastText()));
        bridge.clearToast();
        QVERIFY(bridge.exportCurvePack(0));
        QVERIFY2(bridge.toastText().startsWith(QStringLiteral("曲线已导出到桌面"))
                         && bridge.toastText().contains("「" + name + "」"),
                 qPrintable(bridge.toastText()));
        QVERIFY(QDir(desktop() + "/大阵列_导出/测点").entryList(QDir::Files).isEmpty());
    }

    // Capture files holding values that are not finite numbers, or levels no measurement gives,
    // are refused where they are read, so nothing of them reaches an exported file: a pack whose
    // capture holds a NaN, or a level of 3.0e38 dB, has no curve to open or export, and a toast
    // names the file and why; a line array whose point holds an infinity goes out without that
    // point.
    void nonFiniteCapturesReachNoExport()
    {
        QmlBridge bridge;
        AppCore &core = bridge.core();
        const QList<float> f = logGrid(16, 100.0, 10000.0);
        const CurvePack single = storedPack(core, "坏曲线", f, QList<float>(16, -3.0f));
        const CurvePack loud = storedPack(core, "响曲线", f, QList<float>(16, -3.0f));
        CurvePack array;
        array.name = QStringLiteral("坏测点");
        array.use = QStringLiteral("线阵列");
        array.freq = f;
        array.level = QList<float>(16, 1.0f);
        array.pointFreq = {f, f};
        array.pointLevel = {QList<float>(16, 1.0f), QList<float>(16, 2.0f)};
        QVERIFY(!single.rawFile.isEmpty() && core.store().savePack(array, -1));
        const QString pointsFile = rawDir() + "/" + core.store().curvePacks.last().pointsFile;

        // A NaN level in the capture, an infinite level in the second point (after the first
        // point's 4 + 16 · 16 bytes), as a damaged copy of the files may hold them.
        const auto spoil = [](const QString &path, qsizetype offset, float value) {
            QByteArray bytes = fileBytes(path);
            qToLittleEndian(value, bytes.data() + offset);
            return putBytes(path, bytes);
        };
        QVERIFY(spoil(rawDir() + "/" + single.rawFile, 11 + 4 * 16 + 4 * 5, NAN));
        QVERIFY(spoil(rawDir() + "/" + loud.rawFile, 11 + 4 * 16 + 4 * 5, 3.0e38f));
        QVERIFY(spoil(pointsFile, 11 + (4 + 16 * 16) + 4 + 4 * 16 + 4 * 2, INFINITY));
        core.store().loadCurvePacks(); // the captures unread again, as after a start
        const auto indexOf = [&core](const QString &name) {
            const QList<CurvePack> &packs = core.store().curvePacks;
            return int(std::find_if(packs.cbegin(), packs.cend(),
                                    [&name](const CurvePack &pack) { return pack.name == name; })
                       - packs.cbegin());
        };

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[Store\\] capture file .*\\.raw holds values "
                                                "that are not finite numbers, not read$"));
        QVERIFY(!bridge.exportCurvePack(indexOf("坏曲线")));
        QCOMPARE(bridge.toastText(),
                 "「" + single.rawFile
                         + QStringLiteral("」里有无效的数值（NaN 或无穷大），已跳过"));
        const QString tooLoud
                = "「" + loud.rawFile
                  + QStringLiteral("」里有超出 ±200 dB 的电平，不像测量得出的，已跳过");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("holds levels beyond 200 dB"));
        QVERIFY(bridge.curvePackDetail(indexOf("响曲线")).value("after").toList().isEmpty());
        QCOMPARE(bridge.toastText(), tooLoud);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("holds levels beyond 200 dB"));
        QVERIFY(!bridge.exportCurvePack(indexOf("响曲线")));
        QCOMPARE(bridge.toastText(), tooLoud);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[Store\\] capture file .*\\.points holds "
                                                "values that are not finite numbers, not read$"));
        QVERIFY(bridge.exportCurvePack(indexOf("坏测点")));
        const QString folder = desktop() + "/坏测点_导出";
        QVERIFY(QFile::exists(folder + "/原始.txt")); // no longer the average of its points
        QVERIFY(QDir(folder + "/测点").entryList(QDir::Files).isEmpty());
        QVERIFY(!QFileInfo::exists(desktop() + "/坏曲线_导出"));
        QVERIFY(!QFileInfo::exists(desktop() + "/响曲线_导出"));
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QByteArray text = fileBytes(files.next()).toLower();
            QVERIFY2(!text.contains("nan") && !text.contains("inf"), qPrintable(files.filePath()));
        }
    }

    // A subwoofer alignment's coupled curve: two flat captures in phase add up to +6.02 dB over
    // the subwoofer's range.
    void exportsTheCoupledAlignment()
    {
        CurvePack pack;
        pack.name = QStringLiteral("超低");
        pack.freq = logGrid(100, 20.0, 20000.0);
        pack.level = QList<float>(100, 0.0f);
        pack.freq2 = logGrid(50, 30.0, 200.0);
        pack.level2 = QList<float>(50, 0.0f);
        pack.subAlign = QJsonObject{{"invert", true}};
        const QList<PackTextExport::Curve> curves = PackTextExport::curvesOf(pack);
        QCOMPARE(curves.size(), 3);
        QVERIFY(curves[1].phase.isEmpty() && curves[2].file == "耦合.txt");
        QVERIFY(curves[2].freq.first() >= 30.0f && curves[2].freq.last() <= 200.0f);
        for (const float level : curves[2].level)
            QCOMPARE(QByteArray::number(level, 'f', 4), QByteArray("6.0206"));
    }

    // Calibration files are imported into the data folder and kept per device and channel in
    // the settings; a copy another device uses is never replaced by a file of the same name.
    void calibrationFilesPerDeviceAndChannel()
    {
        QmlBridge bridge;
        const QString source = QDir::homePath() + "/maker/mic.txt";
        QVERIFY(putBytes(source, "20\t-1.5\n1000\t0\n20000\t2.0\n"));
        QVERIFY(bridge.setCalibrationFile(0, QUrl::fromLocalFile(source).toString()));
        const QString copy = documentsRoot() + "/校准/测量麦/mic.txt";
        QVariantMap info = bridge.calibrationInfo();
        QVERIFY(info.value("micPath") == copy && info.value("micName") == "mic.txt");
        QCOMPARE(info.value("splRef").toDouble(), 140.0);
        QSettings stored(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                 + "/Halvo/测量工作流.conf",
                         QSettings::IniFormat);
        QCOMPARE(stored.value("Calibration/mic/calFile_0_0").toString(), copy);
        QCOMPARE(bridge.calibrationMicFiles()[1].toMap().value("value").toString(), copy);

        // Values that are not numbers, or no calibration, are refused line by line.
        QVERIFY(putBytes(source, "20\t1e30\n1000\tnan\n20000\t-1e30\n"));
        for (int line = 1; line <= 3; ++line)
            QTest::ignoreMessage(
                    QtWarningMsg,
                    QRegularExpression(
                            QString("^\\[CalFileParser\\] Skipping line %1 ").arg(line)));
        QVERIFY(!bridge.setCalibrationFile(0, source));
        QCOMPARE(bridge.calibrationError(), QStringLiteral("校准文件至少需要 2 个数据点"));
        QVERIFY(putBytes(source, "100\t3\n"));
        QVERIFY(!bridge.setCalibrationFile(0, source));
        QCOMPARE(bridge.calibrationError(), QStringLiteral("校准文件至少需要 2 个数据点"));
        QVERIFY(!bridge.setCalibrationFile(2, copy));
        QCOMPARE(bridge.calibrationError(), QStringLiteral("校准文件至少需要 2 个数据点"));

        QVERIFY(putBytes(source, "20\t4\n20000\t4\n"));
        bridge.setSelectedAudioDevice(QStringLiteral("Line In"));
        QVERIFY(bridge.setCalibrationFile(0, source) && bridge.calibrationError().isEmpty());
        QCOMPARE(bridge.calibrationInfo().value("micPath").toString(),
                 documentsRoot() + "/校准/测量麦/mic (2).txt");
        QCOMPARE(fileBytes(copy), QByteArray("20\t-1.5\n1000\t0\n20000\t2.0\n"));
        bridge.clearCalibrationFile(0);
        QVERIFY(bridge.calibrationInfo().value("micPath").toString().isEmpty());
        stored.sync();
        QCOMPARE(stored.value("Calibration/line/calFile_0_0").toString(), QString());
    }
};

SNT_TEST_MAIN(StorageBridgeTest)
#include "StorageBridgeTest.moc"
