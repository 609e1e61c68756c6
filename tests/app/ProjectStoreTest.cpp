#include "app/CaptureFiles.h"
#include "app/DataFolder.h"
#include "app/ProjectStore.h"
#include "tests/app/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString projectPath(const QString& name)
{
    return projectsDir() + QLatin1Char('/') + name + QStringLiteral(".json");
}

QJsonObject fileObject(const QString& path)
{
    return QJsonDocument::fromJson(fileBytes(path)).object();
}

CurvePack pack(const QString& name, const QString& project, int seq = 0,
               const QString& use = QStringLiteral("主扩"))
{
    CurvePack p;
    p.name = name;
    p.project = project;
    p.use = use;
    p.seq = seq;
    p.rawFile = name + QStringLiteral(".raw");
    p.bands = {{100.0f, -3.0f, 1.4f, true}};
    return p;
}

// "project:name" of every pack as the files hold them now, in load order.
QStringList loadedNames()
{
    ProjectStore store;
    store.loadCurvePacks();
    QStringList list;
    for (const CurvePack& p : std::as_const(store.curvePacks))
        list.append(p.project + QLatin1Char(':') + p.name);
    return list;
}

void setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

// Makes a file impossible to write for this process: read-only permissions, and for a process
// that ignores them (root) the immutable attribute. False when neither holds.
bool makeUnwritable(const QString& path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    if (!QFileInfo(path).isWritable())
        return true;
    return QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0
           && !QFileInfo(path).isWritable();
}

void makeWritable(const QString& path)
{
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace

class ProjectStoreTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QDir(documentsRoot()).removeRecursively();
    }

    void packsRoundTripThroughProjectAndRootFiles()
    {
        ProjectStore store;
        store.curvePacks = {pack("a1", "大厅"), pack("r1", ""), pack("b1", "Hall 2.0"),
                            pack("a2", "大厅"), pack("r2", "")};
        store.curvePacks[1].subAlign = QJsonObject{{"delayMs", 2.5}};
        QVERIFY(store.saveProject("大厅", "室外", "8 m", "演唱会"));
        QVERIFY(store.saveProject("Hall 2.0", "室内", "4 m", "Livehouse"));
        QVERIFY(store.saveCurvePacks());

        ProjectStore read;
        read.loadCurvePacks();
        QCOMPARE(read.curvePacks.size(), 5);
        for (const CurvePack& written : std::as_const(store.curvePacks))
            QVERIFY(read.curvePacks.contains(written));
        // Grouped by file, the root file last; list order within a file.
        const QStringList names = loadedNames();
        QCOMPARE(names.mid(3), (QStringList{":r1", ":r2"}));
        QVERIFY(names.indexOf("大厅:a1") < names.indexOf("大厅:a2"));
        const QJsonObject hall = fileObject(projectPath("大厅"));
        QCOMPARE(hall.value("roomType").toString(), QStringLiteral("室外"));
        QCOMPARE(hall.value("curves").toInt(), 4);
        QVERIFY(fileBytes(curvePackRootFile()).contains("\n    "));  // indented
    }

    // Newest first; keys missing or of another type take their defaults; the file names the
    // project; only files ending exactly in ".json" are projects.
    void projectsAreListedFromTheirFiles()
    {
        QVERIFY(putBytes(projectPath("a"), R"({"roomType": "室外", "curves": 2.5,
            "name": "other", "programType": ["x"], "roomHeight": null})"));
        QVERIFY(putBytes(projectPath("b"), R"({"roomHeight": "6 m", "curves": 4, "roomType": 5})"));
        for (const char* other : {"/c.json.bak", "/UPPER.JSON", "/folder.json/x.json"})
            QVERIFY(putBytes(projectsDir() + other, "{}"));
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        setModified(projectPath("a"), yesterday);
        ProjectStore store;
        store.listProjects();
        QStringList listed;
        for (const ProjectInfo& p : std::as_const(store.projects))
            listed << p.name << p.roomType << p.roomHeight << p.programType << QString::number(p.curves);
        QCOMPARE(listed, (QStringList{"b", "室内", "6 m", "Livehouse", "4",
                                      "a", "室外", "4 m", "Livehouse", "0"}));
        QCOMPARE(store.projects[1].modified, yesterday.toString("MM-dd HH:mm"));
        QVERIFY(!store.freshInstall);
    }

    void loadKeepsOnlyNamedPacksOfSchemaThree()
    {
        QVERIFY(putBytes(curvePackRootFile(), R"({"packs": [
            {"schema": 3, "name": "ok"}, {"schema": 2, "name": "old"}, {"name": "none"},
            {"schema": 3, "name": ""}, {"schema": "3", "name": "text"}, 5,
            {"schema": 4, "name": "newer", "future": true}]})"));
        QVERIFY(putBytes(projectPath("odd"), R"({"packs": {"schema": 3, "name": "x"}})"));
        QVERIFY(putBytes(projectPath("list"), R"([{"schema": 3, "name": "x"}])"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file .*list.json"));
        QCOMPARE(loadedNames(), (QStringList{":ok", ":newer"}));
    }

    // Saving the packs keeps a project's own keys and empties projects left without packs;
    // saving the project itself writes it from scratch.
    void savesRewriteThePacksOfEveryProject()
    {
        QVERIFY(putBytes(projectPath("p"), R"({"note": "舞台左侧", "roomType": "室外", "packs": []})"));
        QVERIFY(putBytes(projectPath("leer"), R"({"packs": [{"schema": 3, "name": "gone"}]})"));
        ProjectStore store;
        store.curvePacks = {pack("x", "p")};
        QVERIFY(store.saveCurvePacks());
        const QJsonObject object = fileObject(projectPath("p"));
        QCOMPARE(object.value("note").toString(), QStringLiteral("舞台左侧"));
        QCOMPARE(object.value("name").toString(), QStringLiteral("p"));
        QCOMPARE(object.value("curves").toInt(), 2);
        QCOMPARE(fileObject(projectPath("leer")).value("curves").toInt(), 0);
        QCOMPARE(loadedNames(), QStringList{"p:x"});
        QVERIFY(store.saveProject("p", "室内", "4 m", "Livehouse"));
        QVERIFY(!fileObject(projectPath("p")).contains("note"));
        QCOMPARE(loadedNames(), QStringList{"p:x"});
    }

    // A project without a writable file must not swallow its packs: they go to the root file.
    // A file that cannot be written is reported and left as it was.
    void unwritableFilesKeepEveryPack_data()
    {
        QTest::addColumn<QString>("locked");  // the read-only file, if any
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QStringList>("loaded");
        QTest::newRow("no project file") << "" << "" << QStringList{":r", ":moved"};
        QTest::newRow("read-only project file")
            << "project" << "p.json not written; 1 packs" << QStringList{":r", ":moved"};
        QTest::newRow("read-only root file") << "root" << "root file .* not written" << QStringList{};
    }

    void unwritableFilesKeepEveryPack()
    {
        QFETCH(QString, locked);
        QFETCH(QString, warning);
        QFETCH(QStringList, loaded);
        const QString path = locked == "root" ? curvePackRootFile() : projectPath("p");
        const QByteArray before = R"({"packs": []})";
        if (!locked.isEmpty()) {
            QVERIFY(putBytes(path, before));
            if (!makeUnwritable(path))
                QSKIP("this process can write read-only files");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        }
        ProjectStore store;
        store.curvePacks = {pack("moved", "p"), pack("r", "")};
        const bool saved = store.saveCurvePacks();
        if (!locked.isEmpty())
            makeWritable(path);
        QCOMPARE(saved, locked.isEmpty());
        QCOMPARE(loadedNames(), loaded);
        QCOMPARE(fileBytes(path), locked.isEmpty() ? QByteArray() : before);
    }

    // A save after one edit rewrites only what changed; an unchanged locked file is no failure.
    void unchangedFilesAreNotRewritten()
    {
        QVERIFY(putBytes(projectPath("locked"), "{}"));
        QVERIFY(putBytes(projectPath("open"), "{}"));
        ProjectStore store;
        store.curvePacks = {pack("a", "locked"), pack("b", "open")};
        QVERIFY(store.saveCurvePacks());
        const QDateTime old = QDateTime::currentDateTime().addDays(-2);
        setModified(projectPath("locked"), old);
        setModified(projectPath("open"), old);
        if (!makeUnwritable(projectPath("locked")))
            QSKIP("this process can write read-only files");
        store.curvePacks[1].delayMs = 4.0;
        const bool saved = store.saveCurvePacks();
        makeWritable(projectPath("locked"));
        QVERIFY(saved);
        QCOMPARE(QFileInfo(projectPath("locked")).lastModified(), old);
        QVERIFY(QFileInfo(projectPath("open")).lastModified() > old);
        QCOMPARE(store.projects.first().name, QStringLiteral("open"));
    }

    // One damaged byte must not turn into the loss of every pack of the file at the next save.
    void damagedFilesAreKeptAsideOnce_data()
    {
        QTest::addColumn<bool>("rootFile");
        QTest::newRow("project") << false;
        QTest::newRow("root") << true;
    }

    void damagedFilesAreKeptAsideOnce()
    {
        QFETCH(bool, rootFile);
        const QString path = rootFile ? curvePackRootFile() : projectPath("kaputt");
        const QStringList copyName{QFileInfo(path).fileName() + ".corrupt-*"};
        const QByteArray damaged = R"({"packs": [{"schema": 3, "name": "lost"},)";
        QVERIFY(putBytes(path, damaged));
        QVERIFY(putBytes(projectPath("leer"), "  \n"));  // empty is not damaged
        ProjectStore store;
        for (int round = 0; round < 2; ++round) {  // the same damage is kept only once
            QVERIFY(putBytes(path, damaged));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
            if (round == 0)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("kept as .*corrupt-"));
            QVERIFY(store.saveCurvePacks());
            QVERIFY(!fileObject(path).isEmpty());  // valid again
        }
        const QFileInfoList copies = QFileInfo(path).dir().entryInfoList(copyName, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(fileBytes(copies[0].filePath()), damaged);
        QVERIFY(QDir(projectsDir()).entryList({"leer.json.*"}, QDir::Files).isEmpty());
    }

    void moveCurvePack_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("order");  // empty: refused
        QTest::newRow("forward") << 0 << 3 << "bcad";
        QTest::newRow("to end") << 0 << -1 << "bcda";
        QTest::newRow("before count") << 1 << 4 << "acdb";
        QTest::newRow("backward") << 3 << 0 << "dabc";
        QTest::newRow("same place") << 2 << 2 << "abcd";
        QTest::newRow("before 5") << 0 << 5 << "";
        QTest::newRow("before -2") << 0 << -2 << "";
        QTest::newRow("from 4") << 4 << 0 << "";
        QTest::newRow("from -1") << -1 << 0 << "";
    }

    void moveCurvePack()
    {
        QFETCH(int, from);
        QFETCH(int, before);
        QFETCH(QString, order);
        QVERIFY(putBytes(projectPath("q"), "{}"));
        ProjectStore store;
        for (const char* name : {"a", "b", "c", "d"})
            store.curvePacks.append(pack(name, ""));
        QCOMPARE(store.moveCurvePack(from, before, "q"), !order.isEmpty());
        QString actual;
        for (const CurvePack& p : std::as_const(store.curvePacks))
            actual += p.name;
        QCOMPARE(actual, order.isEmpty() ? QStringLiteral("abcd") : order);
        if (!order.isEmpty())  // saved at once, in its project's file
            QVERIFY(loadedNames().contains(QStringLiteral("q:") + QChar('a' + from)));
    }

    // Deleting removes the pack and its captures, but not its per-point curves.
    void deleteRemovesPackAndCaptures()
    {
        CurvePack measured = pack("m", "");
        measured.rawFile.clear();
        measured.freq = measured.freq2 = QList<float>(8, 100.0f);
        measured.level = measured.level2 = QList<float>(8, -3.0f);
        QVERIFY(writeRawFile(measured));
        QVERIFY(writePointsFile(measured, {measured.freq}, {}, {}, {}));
        ProjectStore store;
        store.curvePacks = {measured, pack("keep", "")};
        QVERIFY(!store.deleteCurvePack(2));
        QVERIFY(store.deleteCurvePack(0));
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files), QStringList{measured.pointsFile});
        QCOMPARE(loadedNames(), QStringList{":keep"});
    }

    void nextSeq()
    {
        ProjectStore store;
        QCOMPARE(store.nextSeq("主扩"), 1);
        store.curvePacks = {pack("主扩 01", "", 1), pack("主扩 07 ", "", 0),
                            pack("补声 12", "", 0, "补声"), pack("主扩 x", "", -3)};
        QCOMPARE(store.nextSeq("主扩"), 8);
        QCOMPARE(store.nextSeq("补声"), 13);
        QCOMPARE(store.nextSeq("超低"), 1);
    }

    void projectNamesThatLeaveTheFolderAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "大厅" << true;
        QTest::newRow("dotted") << "Hall 2.0" << true;
        QTest::newRow("parent") << "../../x" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("hidden") << ".x" << false;
        QTest::newRow("blank") << "  " << false;
    }

    void projectNamesThatLeaveTheFolderAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(bool, usable);
        QCOMPARE(ProjectStore::projectNameProblem(name).isEmpty(), usable);
        QCOMPARE(ProjectStore::projectFilePath(name).isEmpty(), !usable);
        ProjectStore store;
        if (!usable && !name.trimmed().isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("project name refused"));
        QCOMPARE(store.saveProject(name, "室内", "4 m", "Livehouse"), usable);
        QVERIFY(!QFileInfo::exists(QDir::homePath() + "/x.json"));
        QCOMPARE(store.projects.size(), usable ? 1 : 0);
        if (usable)
            QCOMPARE(store.projects[0].name, name);
    }
};

SNT_TEST_MAIN(ProjectStoreTest)
#include "ProjectStoreTest.moc"
