#include "app/CaptureFiles.h"
#include "app/DataFolder.h"
#include "app/ProjectStore.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString projectPath(const QString& name)
{
    return projectsDir() + QLatin1Char('/') + name + QStringLiteral(".json");
}

bool putText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    p.time = QStringLiteral("12-06 10:00");
    p.rawFile = QStringLiteral("%1.raw").arg(name);
    p.bands = {{100.0f, -3.0f, 1.4f, true}};
    p.low = {true, QStringLiteral("BW"), 2, 60.0};
    return p;
}

QStringList names(const QList<CurvePack>& packs)
{
    QStringList list;
    for (const CurvePack& p : packs)
        list.append(p.project + QLatin1Char(':') + p.name);
    return list;
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
        store.curvePacks[0].question = QStringLiteral("?");
        store.curvePacks[1].subAlign = QJsonObject{{"delayMs", 2.5}};
        QVERIFY(store.saveProject("大厅", "室外", "8 m", "演唱会"));
        QVERIFY(store.saveProject("Hall 2.0", "室内", "4 m", "Livehouse"));
        QVERIFY(store.saveCurvePacks());

        ProjectStore read;
        read.loadCurvePacks();
        QCOMPARE(read.curvePacks.size(), 5);
        // Grouped by file (in the folder's order), then the root file; array order in a group.
        for (const CurvePack& written : std::as_const(store.curvePacks)) {
            const auto found = std::find_if(read.curvePacks.cbegin(), read.curvePacks.cend(),
                                            [&](const CurvePack& p) { return p.name == written.name; });
            QVERIFY(found != read.curvePacks.cend());
            QCOMPARE(*found, written);
        }
        QCOMPARE(names(read.curvePacks).mid(3), (QStringList{":r1", ":r2"}));
        QVERIFY(names(read.curvePacks).indexOf("大厅:a1") < names(read.curvePacks).indexOf("大厅:a2"));

        const QJsonObject hall = fileObject(projectPath("大厅"));
        QCOMPARE(hall.value("name").toString(), QStringLiteral("大厅"));
        QCOMPARE(hall.value("roomType").toString(), QStringLiteral("室外"));
        QCOMPARE(hall.value("curves").toInt(), 4);
        QCOMPARE(fileObject(curvePackRootFile()).value("packs").toArray().size(), 2);
        QVERIFY(fileBytes(curvePackRootFile()).contains("\n    "));  // indented

        read.listProjects();
        QCOMPARE(read.projects.size(), 2);
        QVERIFY(!read.freshInstall);
    }

    void projectsListNewestFirstWithDefaults()
    {
        QVERIFY(putText(projectPath("a"), R"({"roomType": "室外", "curves": 2.5})"));
        QVERIFY(putText(projectPath("b"), R"({"roomHeight": "6 m", "curves": 4})"));
        QVERIFY(putText(projectsDir() + "/c.json.bak", "{}"));
        QVERIFY(putText(projectsDir() + "/UPPER.JSON", "{}"));
        QDir().mkpath(projectPath("folder"));
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        QFile a(projectPath("a"));
        QVERIFY(a.open(QIODevice::ReadWrite));
        QVERIFY(a.setFileTime(yesterday, QFileDevice::FileModificationTime));
        a.close();

        ProjectStore store;
        store.listProjects();
        QCOMPARE(store.projects.size(), 2);
        const ProjectInfo& b = store.projects[0];
        QCOMPARE(b.name, QStringLiteral("b"));
        QCOMPARE(b.roomType, QStringLiteral("室内"));
        QCOMPARE(b.roomHeight, QStringLiteral("6 m"));
        QCOMPARE(b.programType, QStringLiteral("Livehouse"));
        QCOMPARE(b.curves, 4);
        const ProjectInfo& first = store.projects[1];
        QCOMPARE(first.name, QStringLiteral("a"));
        QCOMPARE(first.roomType, QStringLiteral("室外"));
        QCOMPARE(first.roomHeight, QStringLiteral("4 m"));
        QCOMPARE(first.curves, 0);
        QCOMPARE(first.modified, yesterday.toString("MM-dd HH:mm"));
        QVERIFY(!store.freshInstall);
    }

    void loadKeepsOnlyNamedPacksOfSchemaThree()
    {
        QVERIFY(putText(curvePackRootFile(), R"({"packs": [
            {"schema": 3, "name": "ok"}, {"schema": 2, "name": "old"}, {"name": "none"},
            {"schema": 3, "name": ""}, {"schema": "3", "name": "text"}, 5,
            {"schema": 4, "name": "newer", "future": true}]})"));
        QVERIFY(putText(projectPath("odd"), R"({"packs": {"schema": 3, "name": "x"}})"));
        QVERIFY(putText(projectPath("list"), R"([{"schema": 3, "name": "x"}])"));
        ProjectStore store;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file .*list.json"));
        store.loadCurvePacks();
        QCOMPARE(names(store.curvePacks), (QStringList{":ok", ":newer"}));
    }

    void projectKeysOfAnotherTypeTakeTheirDefaults()
    {
        QVERIFY(putText(projectPath("p"), R"({"roomType": 5, "roomHeight": null,
            "programType": ["x"], "curves": "4", "name": "other", "future": {"a": 1}})"));
        ProjectStore store;
        store.listProjects();
        QCOMPARE(store.projects.size(), 1);
        const ProjectInfo& info = store.projects[0];
        QCOMPARE(info.name, QStringLiteral("p"));  // the file decides, not the "name" key
        QCOMPARE(info.roomType, QStringLiteral("室内"));
        QCOMPARE(info.roomHeight, QStringLiteral("4 m"));
        QCOMPARE(info.programType, QStringLiteral("Livehouse"));
        QCOMPARE(info.curves, 0);
    }

    void saveKeepsUnknownKeysButSaveProjectDoesNot()
    {
        QVERIFY(putText(projectPath("p"), R"({"note": "舞台左侧", "roomType": "室外", "packs": []})"));
        ProjectStore store;
        store.curvePacks = {pack("x", "p")};
        QVERIFY(store.saveCurvePacks());
        QJsonObject object = fileObject(projectPath("p"));
        QCOMPARE(object.value("note").toString(), QStringLiteral("舞台左侧"));
        QCOMPARE(object.value("name").toString(), QStringLiteral("p"));
        QCOMPARE(object.value("curves").toInt(), 2);
        QVERIFY(store.saveProject("p", "室内", "4 m", "Livehouse"));
        object = fileObject(projectPath("p"));
        QVERIFY(!object.contains("note"));
        QCOMPARE(object.value("packs").toArray().size(), 1);
    }

    void emptyProjectsAreRewrittenEmpty()
    {
        QVERIFY(putText(projectPath("leer"), R"({"packs": [{"schema": 3, "name": "gone"}]})"));
        ProjectStore store;
        QVERIFY(store.saveCurvePacks());
        const QJsonObject object = fileObject(projectPath("leer"));
        QCOMPARE(object.value("packs").toArray().size(), 0);
        QCOMPARE(object.value("curves").toInt(), 0);
    }

    void packsOfAMissingProjectGoToTheRootFile()
    {
        ProjectStore store;
        store.curvePacks = {pack("x", "deleted"), pack("y", "")};
        QVERIFY(store.saveCurvePacks());
        store.loadCurvePacks();
        QCOMPARE(names(store.curvePacks), (QStringList{":y", ":x"}));
    }

    void moveCurvePack_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("order");
        QTest::newRow("forward") << 0 << 3 << true << "bcad";
        QTest::newRow("to end") << 0 << -1 << true << "bcda";
        QTest::newRow("before count") << 1 << 4 << true << "acdb";
        QTest::newRow("backward") << 3 << 0 << true << "dabc";
        QTest::newRow("same place") << 2 << 2 << true << "abcd";
        QTest::newRow("before 5") << 0 << 5 << false << "abcd";
        QTest::newRow("before -2") << 0 << -2 << false << "abcd";
        QTest::newRow("from 4") << 4 << 0 << false << "abcd";
        QTest::newRow("from -1") << -1 << 0 << false << "abcd";
    }

    void moveCurvePack()
    {
        QFETCH(int, from);
        QFETCH(int, before);
        QFETCH(bool, ok);
        QFETCH(QString, order);
        ProjectStore store;
        for (const char* name : {"a", "b", "c", "d"})
            store.curvePacks.append(pack(name, ""));
        QCOMPARE(store.moveCurvePack(from, before, "q"), ok);
        QString actual;
        for (const CurvePack& p : std::as_const(store.curvePacks))
            actual += p.name;
        QCOMPARE(actual, order);
        if (ok)
            QCOMPARE(store.curvePacks[order.indexOf(QChar('a' + from))].project, QStringLiteral("q"));
    }

    void movedPackLandsInItsProjectFile()
    {
        QVERIFY(putText(projectPath("q"), "{}"));
        ProjectStore store;
        store.curvePacks = {pack("a", ""), pack("b", "")};
        QVERIFY(store.moveCurvePack(1, 0, "q"));
        ProjectStore read;
        read.loadCurvePacks();
        QCOMPARE(names(read.curvePacks), (QStringList{"q:b", ":a"}));
    }

    void deleteRemovesPackAndCaptures()
    {
        ProjectStore store;
        CurvePack measured = pack("m", "");
        measured.rawFile.clear();
        measured.freq = QList<float>(8, 100.0f);
        measured.level = QList<float>(8, -3.0f);
        QVERIFY(writeRawFile(measured));
        store.curvePacks = {measured, pack("keep", "")};
        QVERIFY(!store.deleteCurvePack(2));
        QVERIFY(store.deleteCurvePack(0));
        QVERIFY(!QFileInfo::exists(rawDir() + "/" + measured.rawFile));
        store.loadCurvePacks();
        QCOMPARE(names(store.curvePacks), QStringList{":keep"});
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

    // A project file that can be read but not written must not swallow its packs.
    void packsOfAnUnwritableProjectStayInTheRootFile()
    {
        QVERIFY(putText(projectPath("locked"), R"({"packs": []})"));
        const QByteArray before = fileBytes(projectPath("locked"));
        if (!makeUnwritable(projectPath("locked")))
            QSKIP("this process can write read-only files");
        ProjectStore store;
        store.curvePacks = {pack("moved", "locked"), pack("r", "")};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write .*locked.json"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("locked.json not written; 1 packs"));
        const bool saved = store.saveCurvePacks();
        makeWritable(projectPath("locked"));
        QVERIFY(!saved);
        QCOMPARE(fileBytes(projectPath("locked")), before);
        ProjectStore read;
        read.loadCurvePacks();
        QCOMPARE(names(read.curvePacks), (QStringList{":r", ":moved"}));
    }

    // A save after one edit rewrites only what changed; an unchanged locked file is no failure.
    void unchangedFilesAreNotRewritten()
    {
        QVERIFY(putText(projectPath("locked"), "{}"));
        QVERIFY(putText(projectPath("open"), "{}"));
        ProjectStore store;
        store.curvePacks = {pack("a", "locked"), pack("b", "open")};
        QVERIFY(store.saveCurvePacks());
        const QDateTime old = QDateTime::currentDateTime().addDays(-2);
        for (const char* name : {"locked", "open"}) {
            QFile file(projectPath(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        if (!makeUnwritable(projectPath("locked")))
            QSKIP("this process can write read-only files");
        store.curvePacks[1].delayMs = 4.0;
        const bool saved = store.saveCurvePacks();
        makeWritable(projectPath("locked"));
        QVERIFY(saved);
        QCOMPARE(QFileInfo(projectPath("locked")).lastModified(), old);
        QVERIFY(QFileInfo(projectPath("open")).lastModified() > old);
        QCOMPARE(store.projects.first().name, QStringLiteral("open"));
        ProjectStore read;
        read.loadCurvePacks();
        QStringList loaded = names(read.curvePacks);
        loaded.sort();
        QCOMPARE(loaded, (QStringList{"locked:a", "open:b"}));
    }

    void unwritableRootFileIsReported()
    {
        QVERIFY(putText(curvePackRootFile(), R"({"packs": []})"));
        if (!makeUnwritable(curvePackRootFile()))
            QSKIP("this process can write read-only files");
        ProjectStore store;
        store.curvePacks = {pack("r", "")};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("root file .* not written"));
        const bool saved = store.saveCurvePacks();
        makeWritable(curvePackRootFile());
        QVERIFY(!saved);
        QCOMPARE(fileBytes(curvePackRootFile()), QByteArray(R"({"packs": []})"));
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
        const QByteArray damaged = R"({"packs": [{"schema": 3, "name": "lost"},)";
        QVERIFY(putText(path, damaged));
        ProjectStore store;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
        store.loadCurvePacks();
        QVERIFY(store.curvePacks.isEmpty());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("kept as .*corrupt-"));
        QVERIFY(store.saveCurvePacks());
        QVERIFY(!fileObject(path).isEmpty());  // valid again
        const QFileInfoList copies = QFileInfo(path).dir().entryInfoList(
            {QFileInfo(path).fileName() + ".corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(fileBytes(copies[0].filePath()), damaged);

        // The same damage found again is not copied a second time.
        QVERIFY(putText(path, damaged));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
        QVERIFY(store.saveCurvePacks());
        QCOMPARE(QFileInfo(path).dir().entryList({QFileInfo(path).fileName() + ".corrupt-*"}).size(),
                 1);
        store.listProjects();
        QCOMPARE(store.projects.size(), rootFile ? 0 : 1);
    }

    void emptyFilesAreNotKeptAside()
    {
        QVERIFY(putText(projectPath("leer"), "  \n"));
        ProjectStore store;
        QVERIFY(store.saveCurvePacks());
        QCOMPARE(QDir(projectsDir()).entryList(QDir::Files), QStringList{"leer.json"});
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
        QTest::newRow("empty") << "" << false;
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
        const QStringList everything =
            QDir(QDir::homePath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY(!everything.contains("x.json"));
        store.listProjects();
        QCOMPARE(store.projects.size(), usable ? 1 : 0);
        if (usable)
            QCOMPARE(store.projects[0].name, name);
    }
};

SNT_TEST_MAIN(ProjectStoreTest)
#include "ProjectStoreTest.moc"
