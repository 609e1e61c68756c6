#include "app/store/ProjectStore.h"
#include "app/store/CaptureFiles.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

#include <limits>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

QString projectPath(const QString &name)
{
    return projectsDir() + QLatin1Char('/') + name + QStringLiteral(".json");
}
QJsonObject parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}
QJsonObject fileObject(const QString &path)
{
    return parse(fileBytes(path));
}

CurvePack pack(const QString &name, const QString &project)
{
    CurvePack p;
    p.name = name;
    p.project = project;
    p.use = QStringLiteral("主扩");
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
    for (const CurvePack &p : std::as_const(store.curvePacks))
        list.append(p.project + QLatin1Char(':') + p.name);
    return list;
}

// "project:" and the JSON of every pack, sorted: the list as the files must hold it, or as they
// hold it (`store` null).
QStringList packTexts(const ProjectStore *store = nullptr)
{
    ProjectStore read;
    if (!store) {
        read.loadCurvePacks();
        store = &read;
    }
    QStringList texts;
    for (const CurvePack &p : std::as_const(store->curvePacks))
        texts.append(p.project + QLatin1Char(':')
                     + QJsonDocument(curvePackToJson(p)).toJson(QJsonDocument::Compact));
    texts.sort();
    return texts;
}

// While it lives, no file of the process may grow (writes fail, as on a full disk): a save in
// that time fails to write.
class NoRoomOnDisk
{
public:
    NoRoomOnDisk()
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit none = saved_;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
        // A write beyond the limit fails with EFBIG instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
    }
    ~NoRoomOnDisk()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlimit saved_{};
};

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's runtime has it; the compiler's headers of this version do not declare it.
extern "C" void __sanitizer_purge_allocator();
#endif

// Memory freed so far is given back to the system now, not held back in the address
// sanitizer's quarantine.
void releaseFreedMemory()
{
#ifdef __SANITIZE_ADDRESS__
    __sanitizer_purge_allocator();
#endif
}

void setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite)
            && file.setFileTime(time, QFileDevice::FileModificationTime));
}

// Every key a pack writes, each away from its default; the floats are exact in single precision.
const QByteArray kFullPack = R"({"schema": 3, "name": "主扩 03", "use": "主扩", "seq": 3,
    "time": "12-06 17:09", "count": 2, "rawFile": "0f8fad5b.raw", "rawPoints": 8193,
    "delayMs": 12.3456789012345, "rawFile2": "7c9e6679.raw", "rawPoints2": 4097,
    "delayMs2": -0.125, "phaseCompensated": false, "smoothBands": 24, "levelRefDb": 93.75,
    "levelRefSet": true, "question": "低频是否被切？", "pointsFile": "0f8fad5b.raw.points",
    "pointCount": 5, "subAlign": {"delayMs": 1.5, "invert": true, "notes": ["a", "b"]},
    "bands": [{"freq": 63.5, "gain": -4.25, "q": 2.125, "enabled": true},
              {"freq": 1000.5, "gain": 3.5, "q": 0.75, "enabled": false}],
    "edges": {"low": {"on": true, "kind": "LR", "order": 4, "hz": 45.5},
              "high": {"on": true, "kind": "BW", "order": 2, "hz": 16000.25}, "lcSuspect": true},
    "curves": [{"label": "前", "points": [1, 0.5, -3.75]}, {"label": "后", "points": [2]}]})";

} // namespace

class ProjectStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(documentsRoot()).removeRecursively(); }

    // --- one pack as JSON ---

    // Every key is read into its field and written back from it; the project is decided by the
    // file a pack is found in and never written.
    void everyKeySurvivesARoundTrip()
    {
        const CurvePack pack = curvePackFromJson(parse(kFullPack), QStringLiteral("大厅"));
        QCOMPARE(curvePackToJson(pack), parse(kFullPack));
        QCOMPARE(pack.project, QStringLiteral("大厅"));
        QCOMPARE(pack.high, (snt::eq::Corner{true, QStringLiteral("BW"), 2, 16000.25}));
        QCOMPARE(curvePackFromJson(parse(QJsonDocument(curvePackToJson(pack)).toJson()), "大厅"),
                 pack);
        // A reference level that is not set, or a point count without a file, is not written.
        CurvePack partial = pack;
        partial.levelRefSet = false;
        partial.pointsFile.clear();
        const QJsonObject object = curvePackToJson(partial);
        for (const char *key : {"levelRefDb", "levelRefSet", "pointsFile", "pointCount"})
            QVERIFY2(!object.contains(QLatin1String(key)), key);
    }

    // A pack another program wrote, with what this program does not hold of it: a key of its
    // own, a number beyond single precision, keys inside bands, a band of a frequency that reads
    // as none and an element that is no band. Moved, it is written as it was read; edited, only
    // the values edited change, whichever bands are removed or added; the written objects are
    // worked out by hand.
    void anEditChangesOnlyWhatWasEdited_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QByteArray>("bands"); // as written after the edit
        const QByteArray first = R"({"freq": 250, "gain": 1e39, "q": 1.4, "x-band": "左"})";
        const QByteArray none = R"({"freq": 1e-320, "gain": 2}, "备注")";
        const QByteArray second = R"({"freq": 1000, "gain": -3.30000001, "q": 2, "x-band": "中"})";
        const QByteArray third = R"({"freq": 4000, "gain": 1.5, "q": 1, "x-band": "右"})";
        const auto list = [](const QList<QByteArray> &bands) {
            return '[' + bands.join(", ") + ']';
        };
        QTest::newRow("moved") << "move" << list({first, none, second, third});
        QTest::newRow("a gain edited")
                << "gain"
                << list({first, none, R"({"freq": 1000, "gain": -5, "q": 2, "x-band": "中"})",
                         third});
        QTest::newRow("a band removed") << "remove" << list({first, none, third});
        QTest::newRow("a band added")
                << "add"
                << list({first, none, second, third,
                         R"({"freq": 8000, "gain": -1, "q": 4, "enabled": false})"});
    }

    void anEditChangesOnlyWhatWasEdited()
    {
        QFETCH(QString, edit);
        QFETCH(QByteArray, bands);
        const QJsonObject stored = parse(R"({"schema": 3, "name": "外来 01", "use": "补声",
            "x-note": "二楼", "delayMs": 2.500000000001, "rawFile2": "", "bands": [
                {"freq": 250, "gain": 1e39, "q": 1.4, "x-band": "左"},
                {"freq": 1e-320, "gain": 2}, "备注",
                {"freq": 1000, "gain": -3.30000001, "q": 2, "x-band": "中"},
                {"freq": 4000, "gain": 1.5, "q": 1, "x-band": "右"}]})");
        CurvePack pack = curvePackFromJson(stored, QString());
        QCOMPARE(pack.bands.size(), 3);
        if (edit == "move")
            pack.project = QStringLiteral("乙");
        else if (edit == "gain")
            pack.bands[1].gain = -5.0f;
        else if (edit == "remove")
            pack.bands.removeAt(1);
        else
            pack.bands.append({8000.0f, -1.0f, 4.0f, false});
        QJsonObject expected = stored;
        expected.insert("bands", QJsonDocument::fromJson(bands).array());
        QCOMPARE(curvePackToJson(pack), expected);
    }

    // Values of another type take the default; bands without a usable frequency are dropped, as
    // nothing could apply them; the count is that of the named curves when there are any.
    void packReadingIsTolerant()
    {
        const QJsonObject stored = parse(R"({
            "schema": 3, "name": 7, "use": ["主扩"], "time": null, "seq": "4", "count": 2.5,
            "rawFile": 12, "rawPoints": 1e12, "delayMs": "3", "rawFile2": {}, "delayMs2": true,
            "phaseCompensated": 0, "smoothBands": 6.5, "levelRefDb": "80", "levelRefSet": 1,
            "question": 5, "subAlign": "x", "curves": "none", "bands": [{"freq": 0, "gain": 3},
                "junk", {"freq": -5}, {"freq": 1000, "gain": -2, "q": 4}, {"freq": 9, "q": "1"}],
            "pointsFile": false, "pointCount": -0.5, "unknownKey": {"deep": [1, 2, 3]},
            "edges": {"low": {"on": "yes", "kind": 4, "order": 2.5, "hz": "80"},
                      "high": {"on": true, "kind": "BS", "order": 3, "hz": 12000, "extra": 1},
                      "lcSuspect": "true"}
        })");
        const CurvePack read = curvePackFromJson(stored, QString());
        CurvePack expected;
        expected.high = {true, QStringLiteral("BS"), 3, 12000.0};
        expected.bands = {{1000.0f, -2.0f, 4.0f, true}, {9.0f, 0.0f, 0.0f, true}};
        expected.stored = stored;
        QCOMPARE(read, expected);
        QCOMPARE(curvePackToJson(read), stored);
        QVERIFY(read.count == 2 && read.phaseCompensated && read.smoothBands == 6);
        const QList<std::pair<const char *, int>> counts{
                {R"({"count": 5, "curves": [{}, {}, {}]})", 3},
                {R"({"count": 0})", 2},
                {R"({"count": -4})", 2},
                {R"({"count": 7, "curves": []})", 7}};
        for (const auto &[json, count] : counts)
            QVERIFY2(curvePackFromJson(parse(json), QString()).count == count, json);
    }

    // JSON has no value for NaN or infinity: such points are left out.
    void namedCurvesKeepOnlyFiniteNumbers()
    {
        CurvePack pack;
        pack.curveLabels = {QStringLiteral("主")};
        const float inf = std::numeric_limits<float>::infinity();
        pack.curves = {{1.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f}, {-inf, 3.0f}};
        QCOMPARE(pointCurvesToJson(pack),
                 QJsonArray({QJsonObject{{"label", "主"}, {"points", QJsonArray{1.0, 2.0}}},
                             QJsonObject{{"label", "点位 2"}, {"points", QJsonArray{3.0}}}}));
        QCOMPARE(jsonArrayToFloats(QJsonDocument::fromJson(R"([1, "x", null, 2.5, true])").array()),
                 (QList<float>{1.0f, 2.5f}));
        QCOMPARE(jsonArrayToFloats(QJsonValue(QStringLiteral("1,2"))), QList<float>());
    }

    // --- the files of the store ---

    // Packs come back from their project's file or the root file, grouped by file, the root file
    // last, in list order within a file. Saving the packs keeps a project's own keys and empties
    // projects left without packs; saving the project itself sets its settings and keeps the
    // keys another program put there.
    void packsRoundTripThroughProjectAndRootFiles()
    {
        QVERIFY(putBytes(projectPath("Hall 2.0"),
                         R"({"note": "舞台左侧", "roomType": "室外", "packs": []})"));
        QVERIFY(putBytes(projectPath("leer"), R"({"packs": [{"schema": 3, "name": "gone"}]})"));
        ProjectStore store;
        // The pack of "leer" is the store's own to drop once it was read; a pack in a file the
        // store never read is another program's and stays.
        store.loadCurvePacks();
        store.curvePacks = {pack("a1", "大厅"), pack("r1", ""), pack("b1", "Hall 2.0"),
                            pack("a2", "大厅"), pack("r2", "")};
        store.curvePacks[1].subAlign = QJsonObject{{"delayMs", 2.5}};
        QVERIFY(store.saveProject("大厅", "室外", "8 m", "演唱会"));
        QVERIFY(store.saveCurvePacks());
        ProjectStore read;
        read.loadCurvePacks();
        QCOMPARE(read.curvePacks.size(), 5);
        for (CurvePack written : std::as_const(store.curvePacks)) {
            written.stored = curvePackToJson(written); // read back from the object written
            QVERIFY(read.curvePacks.contains(written));
        }
        const QStringList names = loadedNames();
        QCOMPARE(names.mid(3), (QStringList{":r1", ":r2"}));
        QVERIFY(names.indexOf("大厅:a1") < names.indexOf("大厅:a2"));
        const QJsonObject hall = fileObject(projectPath("大厅")),
                          kept = fileObject(projectPath("Hall 2.0"));
        QVERIFY(hall.value("roomType") == "室外" && hall.value("curves") == 4);
        QVERIFY(kept.value("note") == "舞台左侧" && kept.value("name") == "Hall 2.0"
                && kept.value("curves") == 2);
        QCOMPARE(fileObject(projectPath("leer")).value("curves").toInt(), 0);
        QVERIFY(fileBytes(curvePackRootFile()).contains("\n    ")); // indented
        QVERIFY(store.saveProject("Hall 2.0", "室内", "4 m", "Livehouse"));
        QVERIFY(fileObject(projectPath("Hall 2.0")).value("note") == "舞台左侧"
                && fileObject(projectPath("Hall 2.0")).value("roomType") == "室内");
        QVERIFY(loadedNames().contains("Hall 2.0:b1"));
    }

    // Newest first; keys missing or of another type take their defaults; the file names the
    // project; only files ending exactly in ".json" are projects.
    void projectsAreListedFromTheirFiles()
    {
        QVERIFY(putBytes(projectPath("a"), R"({"roomType": "室外", "curves": 2.5,
            "name": "other", "programType": ["x"], "roomHeight": null})"));
        QVERIFY(putBytes(projectPath("b"), R"({"roomHeight": "6 m", "curves": 4, "roomType": 5})"));
        for (const char *other : {"/c.json.bak", "/UPPER.JSON", "/folder.json/x.json"})
            QVERIFY(putBytes(projectsDir() + other, "{}"));
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        setModified(projectPath("a"), yesterday);
        ProjectStore store;
        store.listProjects();
        QStringList listed;
        for (const ProjectInfo &p : std::as_const(store.projects))
            listed << p.name << p.roomType << p.roomHeight << p.programType
                   << QString::number(p.curves);
        QCOMPARE(listed, (QStringList{"b", "室内", "6 m", "Livehouse", "4", "a", "室外", "4 m",
                                      "Livehouse", "0"}));
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

    // A project without a file must not swallow its packs: they go to the root file. A file that
    // cannot be written is reported and fails the save, which then changes no file. Writes fail
    // past 64 bytes, as on a full disk; a root file that already holds what the save would write
    // is left alone.
    void unwritableFilesKeepEveryPack_data()
    {
        QTest::addColumn<QString>("failing"); // the file whose write fails, if any
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QStringList>("loaded");
        QTest::newRow("no project file") << ""
                                         << "" << QStringList{":r", ":moved"};
        QTest::newRow("project file not written")
                << "project"
                << "project file .*p.json not written; the save changed no file"
                << QStringList{":r", ":moved"};
        QTest::newRow("root file not written") << "root"
                                               << "root file .* not written" << QStringList{};
    }

    void unwritableFilesKeepEveryPack()
    {
        QFETCH(QString, failing);
        QFETCH(QString, warning);
        QFETCH(QStringList, loaded);
        const QString path = failing == "root" ? curvePackRootFile() : projectPath("p");
        const QByteArray before = R"({"packs": []})";
        if (failing == "project") {
            ProjectStore earlier; // the root file as this save will want it
            earlier.curvePacks = {pack("r", ""), pack("moved", "")};
            QVERIFY(earlier.saveCurvePacks());
        }
        if (!failing.isEmpty()) {
            QVERIFY(putBytes(path, before));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("(writing|saving) .* failed"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        }
        ProjectStore store;
        store.curvePacks = {pack("moved", "p"), pack("r", "")};
        bool saved = false;
        {
            const FileSizeLimit fullDisk(failing.isEmpty() ? RLIM_INFINITY : 64);
            saved = store.saveCurvePacks();
        }
        QCOMPARE(saved, failing.isEmpty());
        QCOMPARE(loadedNames(), loaded);
        QCOMPARE(fileBytes(path), failing.isEmpty() ? QByteArray() : before);
    }

    // A save after one edit rewrites only what changed: a project file that stays the same is
    // not written, so a write that would fail (past 4 KiB here) is no failure.
    void unchangedFilesAreNotRewritten()
    {
        QVERIFY(putBytes(projectPath("big"), "{}") && putBytes(projectPath("open"), "{}"));
        CurvePack big = pack("a", "big");
        big.bands = QList<snt::eq::SchemeBand>(100, {100.0f, -3.0f, 1.4f, true});
        ProjectStore store;
        store.curvePacks = {big, pack("b", "open")};
        QVERIFY(store.saveCurvePacks());
        QVERIFY(QFileInfo(projectPath("big")).size() > 4096);
        const QDateTime old = QDateTime::currentDateTime().addDays(-2);
        setModified(projectPath("big"), old);
        setModified(projectPath("open"), old);
        store.curvePacks[1].delayMs = 4.0;
        bool saved = false;
        {
            const FileSizeLimit fullDisk(4096);
            saved = store.saveCurvePacks();
        }
        QVERIFY(saved);
        QCOMPARE(QFileInfo(projectPath("big")).lastModified(), old);
        QVERIFY(QFileInfo(projectPath("open")).lastModified() > old);
        QCOMPARE(store.projects.first().name, QStringLiteral("open"));
    }

    // A save writes only the packs that changed and puts the files together from their texts:
    // every file must still be, byte for byte, what Qt writes for the whole object.
    void filesAreWhatQtWritesForTheirObjects()
    {
        QVERIFY(putBytes(projectPath("大厅"), R"({"roomType": "室外", "note": "第二层"})"));
        QVERIFY(putBytes(projectPath("empty"), "{}"));
        ProjectStore store;
        store.loadCurvePacks();
        CurvePack full = curvePackFromJson(parse(kFullPack), QStringLiteral("大厅"));
        store.curvePacks = {full, pack("b", "大厅"), pack("c", ""), pack("d", "大厅")};
        store.curvePacks[1].curveLabels = {QStringLiteral("前 \\ \"引号\"\n")};
        store.curvePacks[1].curves = {{1.5f, -0.25f, 3e-7f}};
        const auto expectFiles = [&] {
            QJsonArray hall, root;
            for (const CurvePack &p : std::as_const(store.curvePacks))
                (p.project.isEmpty() ? root : hall).append(curvePackToJson(p));
            const QJsonObject hallFile{{"roomType", "室外"},
                                       {"note", "第二层"},
                                       {"name", "大厅"},
                                       {"packs", hall},
                                       {"curves", 6}};
            const QJsonObject emptyFile{{"name", "empty"}, {"packs", QJsonArray()}, {"curves", 0}};
            QCOMPARE(fileBytes(projectPath("大厅")), QJsonDocument(hallFile).toJson());
            QCOMPARE(fileBytes(projectPath("empty")), QJsonDocument(emptyFile).toJson());
            QCOMPARE(fileBytes(curvePackRootFile()),
                     QJsonDocument(QJsonObject{{"packs", root}}).toJson());
        };
        QVERIFY(store.saveCurvePacks());
        expectFiles();
        store.curvePacks[3].bands.append({2000.0f, 1.5f, 2.0f, false});
        QVERIFY(store.saveCurvePacks());
        expectFiles();
        QVERIFY(store.moveCurvePack(2, 1, QStringLiteral("大厅")));
        QVERIFY(store.moveCurvePack(0, -1, QString()));
        expectFiles();
    }

    // A pack that moves is written into the file it goes to before it leaves the one it was
    // in: when the root file cannot take it, the project file keeps it.
    void aMovedPackIsNeverOnlyInTheFileThatFailed()
    {
        QVERIFY(putBytes(projectPath("p"), "{}"));
        ProjectStore store;
        store.curvePacks = {pack("moving", "p")};
        QVERIFY(store.saveCurvePacks());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("(writing|saving) .* failed"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("root file .* not written"));
        bool moved = true;
        {
            // The project file without the pack is small enough to be written; the root file
            // with it is not.
            const FileSizeLimit fullDisk(64);
            moved = store.moveCurvePack(0, -1, QString());
        }
        QVERIFY(!moved);
        QCOMPARE(loadedNames(), QStringList{"p:moving"});
    }

    // The bridge's delayed save writes the list as it stood when asked, on a thread of its own;
    // the store's next operation waits for it.
    void backgroundSavesWriteOffTheCallingThread()
    {
        ProjectStore store;
        store.curvePacks = {pack("a", "")};
        std::thread::id savingThread;
        ProjectStore::SaveOutcome outcome;
        store.saveCurvePacksInBackground([&](ProjectStore::SaveOutcome done) {
            savingThread = std::this_thread::get_id();
            outcome = std::move(done);
        });
        store.curvePacks.append(pack("b", ""));
        store.loadCurvePacks();
        QVERIFY(savingThread != std::thread::id() && savingThread != std::this_thread::get_id());
        QVERIFY(outcome.allWritten);
        QCOMPARE(loadedNames(), QStringList{":a"});
        QCOMPARE(store.curvePacks.size(), 1);
    }

    // Moving or deleting a pack is done only once the files say so: a save that fails is
    // reported, the list stays as it was, and a deleted pack keeps its captures.
    void failedSavesUndoMovesAndDeletes_data()
    {
        QTest::addColumn<bool>("deleting");
        QTest::newRow("move") << false;
        QTest::newRow("delete") << true;
    }

    void failedSavesUndoMovesAndDeletes()
    {
        QFETCH(bool, deleting);
        CurvePack measured = pack("m", "");
        measured.rawFile.clear();
        measured.freq = QList<float>(8, 100.0f);
        measured.level = QList<float>(8, -3.0f);
        QVERIFY(writeRawFile(measured));
        QVERIFY(putBytes(projectPath("q"), "{}"));
        ProjectStore store;
        store.curvePacks = {measured, pack("keep", "")};
        QVERIFY(store.saveCurvePacks());
        const QList<CurvePack> listed = store.curvePacks;
        const QStringList onDisk = loadedNames();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("(writing|saving) .* failed"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not written"));
        bool done = true;
        {
            const FileSizeLimit fullDisk(64);
            done = deleting ? store.deleteCurvePack(0) : store.moveCurvePack(0, -1, "q");
        }
        QVERIFY(!done);
        QCOMPARE(store.curvePacks, listed);
        QCOMPARE(loadedNames(), onDisk);
        QVERIFY(QFile::exists(rawDir() + "/" + measured.rawFile));
        // Once the disk takes writes again, the same request goes through.
        QVERIFY(deleting ? store.deleteCurvePack(0) : store.moveCurvePack(0, -1, "q"));
        QCOMPARE(QFile::exists(rawDir() + "/" + measured.rawFile), !deleting);
        const QStringList after = deleting ? QStringList{":keep"} : QStringList{"q:m", ":keep"};
        QCOMPARE(loadedNames(), after);
    }

    // A save that cannot write one of its files changes none, so the list the store shows after
    // a failure is what a restart reads: here the project file (which every save rewrites, as
    // another program wrote it) is too large for the disk, or the copy of the old pack its
    // rewrite drops is, while the root file can be written. Saving a result and deleting a pack
    // of the root file, moving one into the project, and the delayed save of an edit all fail,
    // leaving every file as it was; with room on the disk again each goes through.
    void failedSavesChangeNoFile_data()
    {
        QTest::addColumn<bool>("oldPack");
        QTest::newRow("project file too large") << false;
        QTest::newRow("copy of an old pack too large") << true;
    }

    void failedSavesChangeNoFile()
    {
        QFETCH(bool, oldPack);
        const QList<snt::eq::SchemeBand> manyBands(250, {100.0f, -3.0f, 1.4f, true});
        ProjectStore earlier;
        earlier.curvePacks = {pack("r1", ""), pack("r2", "")};
        QVERIFY(earlier.saveCurvePacks());
        CurvePack hall = pack("h1", "大厅");
        QJsonObject old = curvePackToJson(hall);
        old.insert("schema", 2);
        old.insert("name", "旧");
        CurvePack large = hall;
        large.bands = manyBands;
        if (oldPack)
            old.insert("bands", curvePackToJson(large).value("bands"));
        else
            hall = large;
        const QJsonArray hallPacks = oldPack ? QJsonArray{curvePackToJson(hall), old}
                                             : QJsonArray{curvePackToJson(hall)};
        QVERIFY(putBytes(
                projectPath("大厅"),
                QJsonDocument(QJsonObject{{"packs", hallPacks}}).toJson(QJsonDocument::Compact)));
        const auto files = [] {
            return QStringList{QString::fromUtf8(fileBytes(projectPath("大厅"))),
                               QString::fromUtf8(fileBytes(curvePackRootFile()))}
                   + QDir(projectsDir()).entryList(QDir::Files | QDir::Hidden)
                   + QDir(QFileInfo(curvePackRootFile()).path())
                             .entryList(QDir::Files | QDir::Hidden);
        };
        const QStringList before = files();

        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        const auto indexOf = [&store](const QString &name) {
            for (qsizetype i = 0; i < store.curvePacks.size(); ++i) {
                if (store.curvePacks[i].name == name)
                    return int(i);
            }
            return -1;
        };
        CurvePack result = pack("新", "");
        result.freq = ramp(8, 100.0f);
        result.level = ramp(8, -3.0f);
        const auto tryEach = [&](bool room) {
            QCOMPARE(store.savePack(result, -1), room);
            QCOMPARE(packTexts(&store), packTexts());
            QCOMPARE(store.deleteCurvePack(indexOf("r1")), room);
            QCOMPARE(packTexts(&store), packTexts());
            QCOMPARE(store.moveCurvePack(indexOf("r2"), -1, "大厅"), room);
            QCOMPARE(packTexts(&store), packTexts());
            store.curvePacks[indexOf("h1")].bands[0].gain = -4.5f;
            ProjectStore::SaveOutcome outcome;
            store.saveCurvePacksInBackground(
                    [&outcome](ProjectStore::SaveOutcome done) { outcome = std::move(done); });
            store.waitForBackgroundSave();
            store.finishBackgroundSave(outcome);
            QCOMPARE(outcome.allWritten, room);
            QCOMPARE(packTexts(&store), packTexts());
        };
        {
            QTest::failOnWarning(QRegularExpression("only .* put in place"));
            const FileSizeLimit fullDisk(4096);
            tryEach(false);
        }
        QCOMPARE(files(), before);
        QVERIFY(QDir(rawDir()).entryList(QDir::Files).isEmpty());
        tryEach(true);
        QCOMPARE(loadedNames(), (QStringList{"大厅:h1", "大厅:r2", ":新"}));
    }

    // The store reads no file beyond its limit, so it writes none: with the root file, as
    // compact as JSON is, a hundred bytes short of it, saving one more result fails with a
    // message that names the file, and a restart lists every pack. Deleting one, which makes the
    // file smaller, goes through.
    void everyFileWrittenIsRead()
    {
        constexpr qsizetype limit = qsizetype(64) << 20;
        // Two packs as the store writes them, the question of the first filling the file.
        QJsonArray packs{curvePackToJson(pack("主扩 01", "")),
                         curvePackToJson(pack("主扩 02", ""))};
        QJsonObject first = packs[0].toObject();
        first.insert("question", "?");
        packs[0] = first;
        const QByteArray text
                = QJsonDocument(QJsonObject{{"packs", packs}}).toJson(QJsonDocument::Compact);
        const qsizetype mark = text.indexOf("\"?\"") + 1;
        QVERIFY(putBytes(curvePackRootFile(), text.first(mark)
                                                      + QByteArray(limit - 99 - text.size(), 'x')
                                                      + text.sliced(mark + 1)));
        QCOMPARE(QFileInfo(curvePackRootFile()).size(), limit - 100);
        const QStringList all{":主扩 01", ":主扩 02"};
        QCOMPARE(loadedNames(), all);
        releaseFreedMemory();

        QStringList told;
        ProjectStore store([&told](const QString &text) { told.append(text); });
        store.loadCurvePacks();
        CurvePack result = pack("主扩 05", "");
        result.freq = ramp(8, 100.0f);
        result.level = ramp(8, -3.0f);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not writing .* bytes to "));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("root file .* not written"));
        QVERIFY(!store.savePack(result, -1));
        QVERIFY(told.size() == 1 && told[0].contains("「curve_packs_root.json」"));
        releaseFreedMemory();
        QCOMPARE(loadedNames(), all);
        QVERIFY(QDir(rawDir()).entryList(QDir::Files).isEmpty());
        releaseFreedMemory();
        QVERIFY(store.deleteCurvePack(1));
        QCOMPARE(loadedNames(), all.first(1));
    }

    // A file that holds no JSON object (cut short, say, or with a NaN as some writers put one)
    // may be another program's write in progress, and what it holds cannot be read: the user
    // hears of it at every load, no save writes over it or beside it, and a change that would go
    // there is not saved.
    void damagedFilesAreNeverWrittenOver_data()
    {
        QTest::addColumn<bool>("rootFile");
        QTest::addColumn<QByteArray>("damaged");
        const QByteArray cut = R"({"packs": [{"schema": 3, "name": "lost"},)";
        const QByteArray nan = R"({"packs": [{"schema": 3, "name": "lost", "delayMs": NaN}]})";
        QTest::newRow("project file cut short") << false << cut;
        QTest::newRow("root file cut short") << true << cut;
        QTest::newRow("project file with NaN") << false << nan;
        QTest::newRow("project file of Latin-1 spaces") << false << QByteArray("\xa0\x85 \n");
        // The parser keeps the last of two values of a key: a rewrite would lose the others.
        QTest::newRow("root file with its packs twice")
                << true << QByteArray(R"({"packs": [{"schema": 3, "name": "lost"}], "packs": []})");
        QTest::newRow("project file with a key twice in a pack")
                << false
                << QByteArray(R"({"packs": [{"schema": 3, "name": "p", "bands": [], "ba\u006eds": [
                                 {"freq": 100, "gain": -3, "q": 1}]}]})");
    }

    void damagedFilesAreNeverWrittenOver()
    {
        QFETCH(bool, rootFile);
        QFETCH(QByteArray, damaged);
        const QString path = rootFile ? curvePackRootFile() : projectPath("kaputt");
        const QString named = "「" + QFileInfo(path).fileName() + "」读不出来";
        QVERIFY(putBytes(projectPath("leer"), "  \n"));
        QVERIFY(putBytes(path, damaged));
        QStringList told;
        ProjectStore store([&told](const QString &text) { told.append(text); });
        for (int round = 0; round < 2; ++round) { // read once, named at every load
            if (round == 0)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
            store.loadCurvePacks();
            QVERIFY(!told.isEmpty() && told.takeLast().contains(named));
            QVERIFY(store.saveCurvePacks());
        }
        store.curvePacks.append(pack("新", rootFile ? "" : "kaputt"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable store file"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not writing .* no JSON object"));
        QVERIFY(!store.saveCurvePacks());
        QVERIFY(told.size() == 1 && told[0].contains(named) && told[0].contains("没有存"));
        QCOMPARE(fileBytes(path), damaged);
        QCOMPARE(fileBytes(projectPath("leer")), QByteArray("  \n"));
        QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden).filter(".json."),
                 QStringList());
    }

    // Two copies of the program on one data folder, each having read it: a move or a deletion of
    // 甲一 by the second after the first moved or deleted it writes nothing and says so, and 甲一
    // stays where the first left it.
    void twoCopiesMeetOverOnePack_data()
    {
        QTest::addColumn<QString>("first"); // "move" (to 乙) or "delete"
        QTest::addColumn<QString>("second"); // "move" (to 丙) or "delete"
        QTest::addColumn<QStringList>("left"); // the files' packs afterwards
        QTest::newRow("moved by both") << "move"
                                       << "move" << QStringList{"乙:甲一", "甲:甲二"};
        QTest::newRow("deleted, then moved") << "delete"
                                             << "move" << QStringList{"甲:甲二"};
        QTest::newRow("moved, then deleted") << "move"
                                             << "delete" << QStringList{"乙:甲一", "甲:甲二"};
    }

    void twoCopiesMeetOverOnePack()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QStringList, left);
        for (const char *project : {"甲", "乙", "丙"})
            QVERIFY(putBytes(projectPath(QString::fromUtf8(project)), "{}"));
        ProjectStore setUp;
        setUp.curvePacks = {pack("甲一", "甲"), pack("甲二", "甲")};
        QVERIFY(setUp.saveCurvePacks());
        QStringList told;
        ProjectStore copies[2]{ProjectStore(),
                               ProjectStore([&told](const QString &text) { told.append(text); })};
        for (ProjectStore &copy : copies)
            copy.loadCurvePacks();
        const auto act = [](ProjectStore &store, const QString &action, const QString &to) {
            int at = 0;
            while (at < store.curvePacks.size() && store.curvePacks[at].name != "甲一")
                ++at;
            return action == "move" ? store.moveCurvePack(at, -1, to) : store.deleteCurvePack(at);
        };
        QVERIFY(act(copies[0], first, "乙"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("was changed here and by another program"));
        QVERIFY(!act(copies[1], second, "丙"));
        QVERIFY2(told.size() == 1 && told[0].contains("「甲.json」") && told[0].contains("甲一"),
                 qPrintable(told.join('\n')));
        QStringList packs = loadedNames();
        packs.sort();
        QCOMPARE(packs, left);
    }

    // Far more project files than the store's tables start with: every operation that saves
    // leaves each pack in its file, and no healthy file is taken for a damaged one.
    void everySaveKeepsManyProjectFilesWhole()
    {
        QTest::failOnWarning(QRegularExpression("unreadable|kept as|could not|not written"));
        constexpr int projects = 120;
        for (int i = 0; i < projects; ++i) {
            const QJsonObject one = curvePackToJson(pack(QStringLiteral("主扩 %1").arg(i), ""));
            QVERIFY(putBytes(projectPath(QStringLiteral("工程 %1").arg(i)),
                             QJsonDocument(QJsonObject{{"packs", QJsonArray{one}}}).toJson()));
        }
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        QCOMPARE(store.curvePacks.size(), projects);

        CurvePack result = pack("补声 01", "工程 7");
        result.freq = ramp(8, 100.0f);
        result.level = ramp(8, -3.0f);
        QVERIFY(store.savePack(result, -1));
        QCOMPARE(packTexts(), packTexts(&store));
        QVERIFY(store.moveCurvePack(0, -1, "工程 99"));
        QCOMPARE(packTexts(), packTexts(&store));
        QVERIFY(store.deleteCurvePack(5));
        QCOMPARE(packTexts(), packTexts(&store));
        QVERIFY(store.renameProject("工程 3", "工程 三"));
        QCOMPARE(packTexts(), packTexts(&store));
        // The delayed save after an edit, on its own thread.
        store.curvePacks[10].bands.append({1000.0f, 2.0f, 1.0f, true});
        ProjectStore::SaveOutcome outcome;
        store.saveCurvePacksInBackground(
                [&outcome](ProjectStore::SaveOutcome done) { outcome = std::move(done); });
        store.waitForBackgroundSave();
        store.finishBackgroundSave(outcome);
        QVERIFY(outcome.allWritten);
        QCOMPARE(packTexts(), packTexts(&store));
        QCOMPARE(store.projects.size(), projects);
        QCOMPARE(QDir(projectsDir()).entryList(QDir::Files).size(), projects); // nothing beside
    }

    // A save that could not write a file is made good by the next one, whatever was edited in
    // between: each edit reaches the file, and the store never says a file is saved that is not.
    void aFailedSaveIsMadeGoodByTheNext()
    {
        ProjectStore store;
        store.curvePacks = {pack("主扩", "")};
        // A text this long is memory mapped on its own: the place of one that went is soon given
        // to the next of its size.
        store.curvePacks[0].bands = QList<snt::eq::SchemeBand>(4000, {100.0f, -3.0f, 1.4f, true});
        QVERIFY(store.saveCurvePacks());
        for (const float gain : {-4.0f, -5.0f, -6.0f}) {
            store.curvePacks[0].bands[0].gain = gain;
            {
                const NoRoomOnDisk full;
                QVERIFY(!store.saveCurvePacks());
            }
            // The memory of the text that went is given back at once, as it is without the
            // address sanitizer's quarantine, so a new text may take its place.
            releaseFreedMemory();
            store.curvePacks[0].bands[0].gain = gain - 0.5f;
            QVERIFY(store.saveCurvePacks());
            QCOMPARE(packTexts(), packTexts(&store));
        }
    }

    // What lies in the data folder need not be a file of ours: a FIFO or a link to a device is
    // refused with a log line and a message that name it, everything else loads, and a save
    // writes through neither.
    void specialFilesAreRefused_data()
    {
        QTest::addColumn<bool>("fifo"); // else a link to an endless device
        QTest::addColumn<bool>("rootFile");
        QTest::newRow("FIFO as project file") << true << false;
        QTest::newRow("endless link as project file") << false << false;
        QTest::newRow("FIFO as root file") << true << true;
        QTest::newRow("endless link as root file") << false << true;
    }

    void specialFilesAreRefused()
    {
        QFETCH(bool, fifo);
        QFETCH(bool, rootFile);
        QVERIFY(putBytes(projectPath("好"), "{}"));
        ProjectStore earlier;
        earlier.curvePacks = {pack("p", "好"), pack("r", "")};
        QVERIFY(earlier.saveCurvePacks());
        const QString path = rootFile ? curvePackRootFile() : projectPath("特殊");
        QFile::remove(path);
        QVERIFY(fifo ? putFifo(path) : putEndlessLink(path));
        const QString name = QFileInfo(path).fileName();

        const LogCapture log;
        QStringList told;
        ProjectStore store([&told](const QString &text) { told.append(text); });
        store.listProjects();
        store.loadCurvePacks();
        const QStringList loaded = rootFile ? QStringList{"好:p"} : QStringList{"好:p", ":r"};
        QStringList names;
        for (const CurvePack &p : std::as_const(store.curvePacks))
            names.append(p.project + ':' + p.name);
        QCOMPARE(names, loaded);
        QCOMPARE(store.projects.size(), 1);
        QVERIFY2(log.lines().filter(QRegularExpression("refused to read .*" + name)).size() >= 1,
                 log.text());
        QVERIFY(told.size() == 1 && told[0].contains(name));

        QCOMPARE(store.saveCurvePacks(), !rootFile);
        const QFileInfo after(path);
        QVERIFY(fifo ? !after.isSymLink() && !after.isFile() && after.exists()
                     : after.isSymLink() && !after.isFile());
        QCOMPARE(loadedNames(), loaded);
    }

    // Packs of a schema the store no longer reads are dropped from their file at the next save,
    // as ever, but only once a copy beside the file holds them; the user hears which, once.
    void oldPacksAreKeptAsideWhenDropped_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("project file") << "project";
        QTest::newRow("root file") << "root";
        QTest::newRow("project file written from scratch") << "saveProject";
    }

    void oldPacksAreKeptAsideWhenDropped()
    {
        QFETCH(QString, file);
        const bool root = file == "root";
        const QString path = root ? curvePackRootFile() : projectPath("大厅");
        const QJsonArray old{parse(R"({"schema": 2, "name": "主扩 01", "rawFile": "a.raw",
                                       "bands": [{"freq": 125, "gain": -3}], "x": [1, "二"]})"),
                             parse(R"({"name": "补声 02", "count": 5, "delayMs": 1.25})")};
        const QJsonObject current = curvePackToJson(pack("主扩 02", ""));
        QJsonObject before{{"packs", QJsonArray{old[0], current, old[1], 7}}};
        if (!root)
            before.insert("note", "二楼");
        QVERIFY(putBytes(path, QJsonDocument(before).toJson()));

        const LogCapture log;
        QStringList told;
        ProjectStore store([&told](const QString &text) { told.append(text); });
        store.loadCurvePacks();
        QCOMPARE(store.curvePacks.size(), 1);
        if (file == "saveProject")
            QVERIFY(store.saveProject("大厅", "室内", "4 m", "Livehouse"));
        else
            QVERIFY(store.saveCurvePacks());

        // The file is what it would have been without the copy.
        QJsonObject expected{{"packs", QJsonArray{current}}};
        if (file == "project")
            expected = {{"note", "二楼"},
                        {"name", "大厅"},
                        {"packs", QJsonArray{current}},
                        {"curves", 2}};
        if (file == "saveProject")
            expected = {{"note", "二楼"},
                        {"name", "大厅"},
                        {"roomType", "室内"},
                        {"roomHeight", "4 m"},
                        {"programType", "Livehouse"},
                        {"packs", QJsonArray{current}},
                        {"curves", 2}};
        QCOMPARE(fileBytes(path), QJsonDocument(expected).toJson());
        const QStringList copies = QFileInfo(path).dir().entryList(
                {QFileInfo(path).fileName() + ".old-packs-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(fileObject(QFileInfo(path).dir().filePath(copies[0])),
                 QJsonObject({{"packs", old + 7}}));
        const QStringList lines = log.lines().filter("older format");
        QVERIFY2(lines.size() == 1 && lines[0].contains(path) && lines[0].contains("主扩 01")
                         && lines[0].contains("补声 02"),
                 log.text());
        QVERIFY(told.size() == 1 && told[0].contains("「主扩 01」")
                && told[0].contains("「补声 02」") && told[0].contains(copies[0]));
        QVERIFY(store.saveCurvePacks());
        QCOMPARE(told.size(), 1);
        QCOMPARE(QFileInfo(path).dir().entryList({"*.old-packs-*"}, QDir::Files), copies);
    }

    // Whatever else the loader drops from a file's "packs" goes into the same copy before a save
    // leaves it out, and the log names it: a current pack without a name, entries that are no
    // pack objects, and a "packs" that is no array.
    void everyPackTheLoaderDropsIsKeptAside()
    {
        const QJsonArray dropped{parse(R"({"schema": 3, "name": "", "rawFile": "a.raw"})"),
                                 parse(R"({"schema": 4, "name": 5})"), 7, "文字", QJsonValue()};
        QJsonArray rootPacks{curvePackToJson(pack("主扩 02", ""))};
        for (const QJsonValue &entry : dropped)
            rootPacks.append(entry);
        QVERIFY(putBytes(curvePackRootFile(),
                         QJsonDocument(QJsonObject{{"packs", rootPacks}}).toJson()));
        const QJsonObject single = parse(R"({"schema": 3, "name": "单个", "seq": 1})");
        QVERIFY(putBytes(projectPath("大厅"),
                         QJsonDocument(QJsonObject{{"note", "二楼"}, {"packs", single}}).toJson()));

        const LogCapture log;
        QStringList told;
        ProjectStore store([&told](const QString &text) { told.append(text); });
        store.loadCurvePacks();
        QVERIFY(store.saveCurvePacks());
        QCOMPARE(loadedNames(), QStringList{":主扩 02"});
        const auto copyOf = [](const QString &path) {
            const QStringList copies = QFileInfo(path).dir().entryList(
                    {QFileInfo(path).fileName() + ".old-packs-*"}, QDir::Files);
            return copies.size() == 1 ? fileObject(QFileInfo(path).dir().filePath(copies[0]))
                                      : QJsonObject();
        };
        QCOMPARE(copyOf(curvePackRootFile()), QJsonObject({{"packs", dropped}}));
        QCOMPARE(copyOf(projectPath("大厅")), QJsonObject({{"packs", QJsonArray{single}}}));
        const QStringList lines = log.lines().filter("left out of");
        QVERIFY2(lines.size() == 2, qPrintable(log.text()));
        const QString rootLine = lines.filter("curve_packs_root.json").value(0);
        for (const char *named : {"（无名）, （无名）, 7, \"文字\", null"})
            QVERIFY2(rootLine.contains(QString::fromUtf8(named)), qPrintable(rootLine));
        QVERIFY2(lines.filter("大厅.json").value(0).contains("单个"), qPrintable(log.text()));
        QCOMPARE(told.size(), 2);
    }

    void moveCurvePack_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("order"); // empty: refused
        QTest::newRow("forward") << 0 << 3 << "bcad";
        QTest::newRow("to end") << 0 << -1 << "bcda";
        QTest::newRow("before count") << 1 << 4 << "acdb";
        QTest::newRow("backward") << 3 << 0 << "dabc";
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
        for (const char *name : {"a", "b", "c", "d"})
            store.curvePacks.append(pack(name, ""));
        QCOMPARE(store.moveCurvePack(from, before, "q"), !order.isEmpty());
        QString actual;
        for (const CurvePack &p : std::as_const(store.curvePacks))
            actual += p.name;
        QCOMPARE(actual, order.isEmpty() ? QStringLiteral("abcd") : order);
        if (!order.isEmpty()) // saved at once, in its project's file
            QVERIFY(loadedNames().contains(QStringLiteral("q:") + QChar('a' + from)));
    }

    // Deleting removes the pack and its captures, but not its per-point curves, nor a capture
    // that another pack (a copy) names.
    void deleteRemovesPackAndCaptures()
    {
        CurvePack measured = pack("m", "");
        measured.rawFile.clear();
        measured.freq = measured.freq2 = QList<float>(8, 100.0f);
        measured.level = measured.level2 = QList<float>(8, -3.0f);
        QVERIFY(writeRawFile(measured) && writePointsFile(measured, {measured.freq}, {}, {}, {}));
        ProjectStore store;
        CurvePack copy = pack("keep", "");
        copy.rawFile = measured.rawFile2;
        store.curvePacks = {measured, copy};
        QVERIFY(!store.deleteCurvePack(2) && store.deleteCurvePack(0));
        QStringList left{measured.pointsFile, measured.rawFile2};
        left.sort();
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files, QDir::Name), left);
        QCOMPARE(loadedNames(), QStringList{":keep"});
    }

    // --- saving a result, deleting and renaming projects ---

    // A saved pack's files get new names, so the files the stored list names are never touched
    // before the list is saved; once it is, the replaced pack's files go, unless another pack
    // (a copy) names them or they were not written again (a second capture not loaded).
    void savedPacksReplaceTheirFilesOnlyOnceListed()
    {
        QVERIFY(putBytes(rawDir() + "/second.raw", "SNTRAW3"));
        ProjectStore store;
        CurvePack result = pack("主扩 01", "");
        result.freq = ramp(8, 100.0f);
        result.level = ramp(8, -3.0f);
        result.rawFile2 = "second.raw";
        result.pointFreq = {ramp(8, 100.0f)};
        QVERIFY(store.savePack(result, -1));
        const CurvePack first = store.curvePacks[0];
        QVERIFY(first.rawFile != result.rawFile && first.rawFile2 == "second.raw");
        QVERIFY(first.pointsFile == first.rawFile + ".points" && first.pointCount == 1);
        result.pointFreq.clear();
        QVERIFY(store.savePack(result, 0) && store.curvePacks[0].pointCount == 0);
        QStringList expected{store.curvePacks[0].rawFile, "second.raw"};
        expected.sort();
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files, QDir::Name), expected);
        store.curvePacks.append(store.curvePacks[0]);
        store.curvePacks.last().name = "copy";
        QVERIFY(store.savePack(result, 0) && QFile::exists(rawDir() + "/" + expected[0]));

        // Full disks: the capture cannot be written, or the list cannot.
        const QList<CurvePack> listed = store.curvePacks;
        const QStringList onDisk = loadedNames();
        for (const rlim_t limit : {64, 400}) {
            const QStringList files = QDir(rawDir()).entryList(QDir::Files);
            bool saved = true;
            {
                const FileSizeLimit fullDisk(limit);
                saved = store.savePack(result, 0) || store.savePack(result, -1);
            }
            QVERIFY(!saved);
            QCOMPARE(store.curvePacks, listed);
            QCOMPARE(loadedNames(), onDisk);
            for (const QString &file : files)
                QVERIFY2(QFile::exists(rawDir() + "/" + file), qPrintable(file));
            if (limit == 64)
                QCOMPARE(QDir(rawDir()).entryList(QDir::Files), files);
        }
    }

    // A deleted project's captures go, but not those another project's file (a copy the user
    // made) still names.
    void deletedProjectsTakeOnlyTheirOwnCaptures()
    {
        ProjectStore store;
        CurvePack shared = pack("shared", "大厅"), own = pack("own", "大厅");
        for (CurvePack *p : {&shared, &own}) {
            p->freq = ramp(8, 100.0f);
            p->level = ramp(8, -3.0f);
        }
        QVERIFY(store.saveProject("大厅", "室内", "4 m", "Livehouse"));
        QVERIFY(store.savePack(shared, -1));
        QVERIFY(putBytes(projectPath("大厅 副本"), fileBytes(projectPath("大厅"))));
        store.listProjects();
        store.loadCurvePacks();
        QVERIFY(store.savePack(own, -1));
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files).size(), 2);
        QVERIFY(!store.deleteProject("未列出"));
        QVERIFY(store.deleteProject("大厅"));
        QVERIFY(!QFile::exists(projectPath("大厅")));
        QCOMPARE(loadedNames(), QStringList{"大厅 副本:shared"});
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files),
                 QStringList{store.curvePacks.first().rawFile});
        QVERIFY(store.projects.size() == 1 && store.projects[0].name == "大厅 副本");
    }

    void nextSeq()
    {
        ProjectStore store;
        QCOMPARE(store.nextSeq("主扩"), 1);
        store.curvePacks = {pack("主扩 01", ""), pack("主扩 07 ", ""), pack("补声 12", ""),
                            pack("主扩 x", "")};
        store.curvePacks[0].seq = 1;
        store.curvePacks[2].use = "补声";
        store.curvePacks[3].seq = -3;
        QVERIFY(store.nextSeq("主扩") == 8 && store.nextSeq("补声") == 13
                && store.nextSeq("超低") == 1);
    }

    void projectNamesThatLeaveTheFolderAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "大厅" << true;
        QTest::newRow("dotted") << "Hall 2.0" << true;
        for (const char *name : {"../../x", "a/b", "a\\b", "..", ".x", "  "})
            QTest::newRow(name) << QString::fromLatin1(name) << false;
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
