#include "app/store/CaptureFiles.h"
#include "app/store/FileStamp.h"
#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <QProcess>

#include <algorithm>
#include <charconv>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

constexpr qint64 storeLimit = qint64(64) << 20; // the largest file the store reads

QString projectPath(const QString &name)
{
    return projectsDir() + QLatin1Char('/') + name + QStringLiteral(".json");
}

// How another program writes the numbers that are not whole: with 17 significant digits, or as
// the shortest text that reads back to the same float ("1.4", where the store once wrote
// 1.399999976158142).
enum class Numbers { SeventeenDigits, ShortDecimals };

QByteArray numberText(double value, Numbers numbers)
{
    if (numbers == Numbers::SeventeenDigits)
        return QByteArray::number(value, 'g', 17);
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, float(value));
    return QByteArray(text, end.ptr - text);
}

// JSON as another program writes it: keys in reverse order, numbers as `numbers` says, `indent`
// spaces a level, or with no indent all on one line, with a space after every comma and colon.
QByteArray otherLayout(const QJsonValue &value, int indent = 0,
                       Numbers numbers = Numbers::SeventeenDigits, int depth = 0)
{
    const QByteArray lineBreak = indent > 0 ? '\n' + QByteArray(indent * (depth + 1), ' ') : "";
    const QByteArray closing = indent > 0 ? '\n' + QByteArray(indent * depth, ' ') : "";
    const QByteArray separator = indent > 0 ? QByteArray(",") : QByteArray(", ");
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        QStringList keys = object.keys();
        std::reverse(keys.begin(), keys.end());
        QByteArrayList members;
        for (const QString &key : std::as_const(keys))
            members << lineBreak
                               + QJsonDocument(QJsonArray{key})
                                         .toJson(QJsonDocument::Compact)
                                         .chopped(1)
                                         .sliced(1)
                               + ": " + otherLayout(object.value(key), indent, numbers, depth + 1);
        return members.isEmpty() ? "{}" : '{' + members.join(separator) + closing + '}';
    }
    if (value.isArray()) {
        QByteArrayList elements;
        for (const QJsonValue &element : value.toArray())
            elements << lineBreak + otherLayout(element, indent, numbers, depth + 1);
        return elements.isEmpty() ? "[]" : '[' + elements.join(separator) + closing + ']';
    }
    if (value.isDouble() && value.toDouble() != double(value.toInteger()))
        return numberText(value.toDouble(), numbers);
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).sliced(1);
}

CurvePack pack(const QString &name, const QString &project, float gain = -3.5f)
{
    CurvePack p;
    p.name = name;
    p.project = project;
    p.use = QStringLiteral("主扩");
    p.rawFile = name + QStringLiteral(".raw");
    p.bands = {{125.0f, gain, 1.4f, true}, {2000.0f, -1.25f, 2.0f, true}};
    return p;
}

// A project file (`project` empty: the root file) as the store would hold these packs.
QJsonObject fileObject(const QString &project, const QList<CurvePack> &packs,
                       const QJsonObject &keys = {})
{
    QJsonArray array;
    for (const CurvePack &p : packs)
        array.append(curvePackToJson(p));
    QJsonObject object = keys;
    object.insert("packs", array);
    if (!project.isEmpty()) {
        object.insert("name", project);
        object.insert("curves", int(packs.size()) * 2);
    }
    return object;
}

QString fileOf(const QString &project)
{
    return project.isEmpty() ? curvePackRootFile() : projectPath(project);
}

// "project:name" of every pack a store started now reads.
QStringList packsAfterARestart()
{
    ProjectStore store;
    store.listProjects();
    store.loadCurvePacks();
    QStringList names;
    for (const CurvePack &p : std::as_const(store.curvePacks))
        names.append(p.project + QLatin1Char(':') + p.name);
    names.sort();
    return names;
}

int indexOf(const ProjectStore &store, const QString &name)
{
    for (qsizetype i = 0; i < store.curvePacks.size(); ++i) {
        if (store.curvePacks[i].name == name)
            return int(i);
    }
    return -1;
}

timespec modifiedTime(const QString &path)
{
    struct stat status
    { };
    stat(QFile::encodeName(path).constData(), &status);
    return status.st_mtim;
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// A FUSE mount of `folder` at `at` by bindfs with `options`, taken down when it goes.
class BindMount
{
public:
    BindMount(const QStringList &options, const QString &folder, const QString &at)
        : at_(at)
        , mounted_(run("bindfs", options + QStringList{folder, at}))
    { }
    ~BindMount()
    {
        if (mounted_)
            run("fusermount", {"-u", "-z", at_});
    }
    BindMount(const BindMount &) = delete;
    BindMount &operator=(const BindMount &) = delete;

    bool mounted() const { return mounted_; }

private:
    QString at_;
    bool mounted_ = false;
};

} // namespace

// The data folder is the user's: other programs (a sync client, a restored backup, an older
// version, a text editor) write its files too. The store reads what they wrote, writes over
// nothing it has not read, rewrites only what its save changes, and keeps working whatever the
// size or the number of their files.
class OtherWritersTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(documentsRoot()).removeRecursively(); }

    // A project file replaced by another version of the same size and modification time, as
    // `cp -p` over it or an rsync -t that renames its copy over it leaves it, right after the
    // store read it or long after: the curve window reopened shows the new version, and the
    // next save (a pack moved in) keeps it. Also where the file system's stamps prove nothing: a
    // FUSE mount that reports the modification time as the change time (as exFAT and SFTP do),
    // and one that caches what it reports (as network file systems do), the other program
    // writing the folder behind it (another machine).
    void aFileReplacedWithItsSizeAndTimeIsReadAgain_data()
    {
        QTest::addColumn<bool>("renamedOver");
        QTest::addColumn<bool>("settled");
        QTest::addColumn<QStringList>("mount"); // bindfs's options; none: no mount
        const QStringList noMount;
        const QStringList changeTime{"--ctime-from-mtime"};
        const QStringList cached{"-o", "attr_timeout=600,entry_timeout=600"};
        QTest::newRow("copied over at once") << false << false << noMount;
        QTest::newRow("copied over, settled") << false << true << noMount;
        QTest::newRow("renamed over at once") << true << false << noMount;
        QTest::newRow("renamed over, settled") << true << true << noMount;
        QTest::newRow("copied over, change time from modification time")
                << false << true << changeTime;
        QTest::newRow("renamed over, change time from modification time")
                << true << true << changeTime;
        QTest::newRow("copied over, cached attributes") << false << true << cached;
        QTest::newRow("renamed over, cached attributes") << true << true << cached;
    }

    void aFileReplacedWithItsSizeAndTimeIsReadAgain()
    {
        QFETCH(bool, renamedOver);
        QFETCH(bool, settled);
        QFETCH(QStringList, mount);
        const QString path = projectPath("甲");
        // Where the other program writes it: through the mount's folder, if there is one.
        QString theirs = path;
        std::optional<BindMount> mounted;
        if (!mount.isEmpty()) {
            const QString folder = QDir::homePath() + QStringLiteral("/另一台的工程");
            QVERIFY(QDir().mkpath(folder));
            mounted.emplace(mount, folder, projectsDir());
            if (!mounted->mounted())
                SNT_SKIP("bindfs cannot mount here (FUSE)");
            theirs = folder + QStringLiteral("/甲.json");
        }
        const QJsonObject before = fileObject("甲", {pack("甲一", "甲"), pack("甲二", "甲", -2.5f)},
                                              {{"roomType", "室内"}});
        const QJsonObject after = fileObject("甲", {pack("甲一", "甲"), pack("甲三", "甲", -4.5f)},
                                             {{"roomType", "室外"}});
        QVERIFY(putBytes(theirs, QJsonDocument(before).toJson()));
        QVERIFY(putBytes(curvePackRootFile(),
                         QJsonDocument(fileObject("", {pack("根一", "")})).toJson()));
        // Behind a mount the store's look must come after the file settled, for a stamp then to
        // seem to prove it unchanged.
        if (mounted)
            QTRY_VERIFY_WITH_TIMEOUT(store::FileStamp::of(theirs).settled(), 10000);
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        if (settled && !mounted)
            QTRY_VERIFY_WITH_TIMEOUT(store::FileStamp::of(path).settled(), 10000);

        const QString copy = QDir::homePath() + QStringLiteral("/甲.json.new");
        const QString beside = theirs + QStringLiteral(".part");
        QVERIFY(putBytes(renamedOver ? beside : copy, QJsonDocument(after).toJson()));
        QCOMPARE(QFileInfo(renamedOver ? beside : copy).size(), QFileInfo(theirs).size());
        const timespec time = modifiedTime(theirs);
        QVERIFY(run("touch", {"-r", theirs, renamedOver ? beside : copy}));
        if (renamedOver)
            QCOMPARE(::rename(QFile::encodeName(beside).constData(),
                              QFile::encodeName(theirs).constData()),
                     0);
        else
            QVERIFY(run("cp", {"-p", copy, theirs}));
        QVERIFY(sameTime(modifiedTime(theirs), time));
        QVERIFY(sameTime(modifiedTime(path), time));

        store.listProjects(); // the curve window opens
        store.loadCurvePacks();
        QVERIFY(indexOf(store, "甲三") >= 0 && indexOf(store, "甲二") < 0);
        QCOMPARE(store.curvePacks[indexOf(store, "甲三")].bands[0].gain, -4.5f);
        QCOMPARE(store.projects.first().roomType, QStringLiteral("室外"));
        QVERIFY(store.moveCurvePack(indexOf(store, "根一"), -1, "甲"));
        QJsonObject expected = after;
        QJsonArray packs = expected.value("packs").toArray();
        packs.append(curvePackToJson(pack("根一", "")));
        expected.insert("packs", packs);
        expected.insert("curves", 6);
        QCOMPARE(QJsonDocument::fromJson(fileBytes(path)).object(), expected);
    }

    // The projects folder swapped for another whose file of the same name has the same size and
    // modification time (a backup put back in place): read again, and kept by the next save.
    void aSwappedProjectsFolderIsReadAgain()
    {
        const QJsonObject before = fileObject("甲", {pack("甲一", "甲"), pack("甲二", "甲")});
        const QJsonObject after = fileObject("甲", {pack("甲一", "甲"), pack("甲三", "甲", -4.5f)});
        QVERIFY(putBytes(projectPath("甲"), QJsonDocument(before).toJson()));
        QVERIFY(putBytes(curvePackRootFile(),
                         QJsonDocument(fileObject("", {pack("根一", "")})).toJson()));
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        QTRY_VERIFY_WITH_TIMEOUT(store::FileStamp::of(projectPath("甲")).settled(), 10000);

        const QString backup = documentsRoot() + QStringLiteral("/工程备份");
        QVERIFY(putBytes(backup + QStringLiteral("/甲.json"), QJsonDocument(after).toJson()));
        QVERIFY(run("touch", {"-r", projectPath("甲"), backup + QStringLiteral("/甲.json")}));
        QVERIFY(QDir().rename(projectsDir(), documentsRoot() + QStringLiteral("/工程旧")));
        QVERIFY(QDir().rename(backup, documentsRoot() + QStringLiteral("/工程")));

        store.listProjects();
        store.loadCurvePacks();
        QVERIFY(indexOf(store, "甲三") >= 0 && indexOf(store, "甲二") < 0);
        QVERIFY(store.moveCurvePack(indexOf(store, "根一"), -1, "甲"));
        QCOMPARE(packsAfterARestart(), (QStringList{"甲:根一", "甲:甲一", "甲:甲三"}));
        QCOMPARE(QJsonDocument::fromJson(fileBytes(projectPath("甲")))
                         .object()["packs"][1]["bands"][0]["gain"]
                         .toDouble(),
                 -4.5);
    }

    // 400 project files in another writer's layout, holding what the store would write, their
    // numbers with 17 digits or as short decimals: a deletion writes the one file it changes, a
    // move the two, and the project list (newest first) keeps the order of the others.
    void filesInAnotherLayoutAreWrittenOnlyWhenTheirContentChanges_data()
    {
        QTest::addColumn<bool>("shortDecimals");
        QTest::newRow("17 digits") << false;
        QTest::newRow("short decimals") << true;
    }

    void filesInAnotherLayoutAreWrittenOnlyWhenTheirContentChanges()
    {
        QFETCH(bool, shortDecimals);
        const Numbers numbers = shortDecimals ? Numbers::ShortDecimals : Numbers::SeventeenDigits;
        constexpr int projects = 400;
        const QDateTime start = QDateTime::currentDateTime().addDays(-1);
        for (int p = 0; p < projects; ++p) {
            const QString project = storetest::numberedProject(p);
            const QList<CurvePack> packs{pack(project + " 一", project, -1.0f - p / 100.0f),
                                         pack(project + " 二", project)};
            QVERIFY(putBytes(projectPath(project),
                             otherLayout(fileObject(project, packs, {{"roomType", "室外"}}),
                                         p % 2 == 0 ? 2 : 0, numbers)));
            QFile file(projectPath(project));
            QVERIFY(file.open(QIODevice::ReadWrite)
                    && file.setFileTime(start.addSecs(p * 60), QFileDevice::FileModificationTime));
        }
        QHash<QString, QByteArray> texts;
        for (int p = 0; p < projects; ++p)
            texts.insert(projectPath(storetest::numberedProject(p)),
                         fileBytes(projectPath(storetest::numberedProject(p))));
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        QCOMPARE(store.curvePacks.size(), projects * 2);
        const auto order = [&store] {
            QStringList names;
            for (const ProjectInfo &info : std::as_const(store.projects))
                names << info.name;
            return names;
        };
        QStringList listed = order();
        QCOMPARE(listed.first(), storetest::numberedProject(projects - 1));

        const auto written = [&texts] {
            QStringList paths;
            for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
                if (fileBytes(it.key()) != it.value())
                    paths << QFileInfo(it.key()).completeBaseName();
            }
            paths.sort();
            return paths;
        };
        QVERIFY(store.deleteCurvePack(indexOf(store, "工程 200 二")));
        QCOMPARE(written(), QStringList{"工程 200"});
        listed.move(listed.indexOf("工程 200"), 0);
        QCOMPARE(order(), listed);
        QVERIFY(store.moveCurvePack(indexOf(store, "工程 017 一"), -1, "工程 300"));
        QCOMPARE(written(), (QStringList{"工程 017", "工程 200", "工程 300"}));
        QCOMPARE(packsAfterARestart().size(), projects * 2 - 1);
    }

    // A root file or a project file just under the store's limit, written compactly by another
    // program, would grow past the limit in the store's indented text. A move between two
    // other projects leaves it alone; deleting one of its packs and moving one out write it (as
    // compact text where the indented would be too large), and a restart reads every file back.
    void aFileNearTheLimitTakesEveryChange_data()
    {
        QTest::addColumn<QString>("large"); // the project of the large file; empty: root file
        QTest::addColumn<bool>("shortDecimals");
        QTest::newRow("root file") << "" << false;
        QTest::newRow("project file") << "大" << false;
        QTest::newRow("root file, short decimals") << "" << true;
        QTest::newRow("project file, short decimals") << "大" << true;
    }

    void aFileNearTheLimitTakesEveryChange()
    {
        QFETCH(QString, large);
        QFETCH(bool, shortDecimals);
        QList<CurvePack> packs;
        for (const char *name : {"大一", "大二", "大三", "大四", "大五"})
            packs << pack(QString::fromUtf8(name), large);
        packs[0].question = QStringLiteral("?");
        // A named curve whose 1,000 numbers each take 16 bytes more as the doubles of their
        // floats than as short decimals.
        packs[0].curveLabels = {QStringLiteral("前")};
        packs[0].curves = {ramp(1000, 0.1f, 0.1f)};
        QByteArray text
                = otherLayout(fileObject(large, packs), 0,
                              shortDecimals ? Numbers::ShortDecimals : Numbers::SeventeenDigits);
        // The store's own text of it is the larger by more than the room left.
        QVERIFY(QJsonDocument(fileObject(large, packs)).toJson().size() - text.size() > 1500);
        const qsizetype mark = text.indexOf("\"?\"") + 1;
        text = text.first(mark) + QByteArray(storeLimit - 1500 - text.size() + 1, 'x')
               + text.sliced(mark + 1);
        QVERIFY(putBytes(fileOf(large), text));
        QCOMPARE(QFileInfo(fileOf(large)).size(), storeLimit - 1500);
        for (const QString &project : {QStringLiteral("乙"), QStringLiteral("丙")})
            QVERIFY(putBytes(
                    projectPath(project),
                    QJsonDocument(fileObject(project, {pack(project + "一", project)})).toJson()));
        if (!large.isEmpty())
            QVERIFY(putBytes(curvePackRootFile(), "{\"packs\": []}"));

        QStringList told;
        ProjectStore store([&told](const QString &sentence) { told << sentence; });
        store.listProjects();
        store.loadCurvePacks();
        QCOMPARE(store.curvePacks.size(), 7);
        QVERIFY(store.moveCurvePack(indexOf(store, "乙一"), -1, "丙"));
        QCOMPARE(fileBytes(fileOf(large)), text);
        QVERIFY(store.deleteCurvePack(indexOf(store, "大二")));
        QVERIFY(store.moveCurvePack(indexOf(store, "大三"), -1, "乙"));
        QCOMPARE(told, QStringList());
        QVERIFY(QFileInfo(fileOf(large)).size() <= storeLimit);
        const QString in = large + QLatin1Char(':');
        QStringList expected{in + "大一", in + "大四", in + "大五",
                             "乙:大三",   "丙:丙一",   "丙:乙一"};
        expected.sort();
        QCOMPARE(packsAfterARestart(), expected);
    }

    // A file near the limit of packs as another program writes them, with the few keys it knows:
    // the store's own text of them would not fit. After a save that kept another program's pack
    // there, every later deletion and move-out still goes through, the packs the save leaves
    // staying as the file holds them.
    void aFileNearTheLimitTakesChangesAfterAMerge_data()
    {
        QTest::addColumn<QString>("large"); // the project of the large file; empty: root file
        QTest::newRow("root file") << "";
        QTest::newRow("project file") << "大";
    }

    void aFileNearTheLimitTakesChangesAfterAMerge()
    {
        QFETCH(QString, large);
        const auto minimal = [](const QString &name) {
            return QJsonObject{{"schema", 3},
                               {"name", name},
                               {"rawFile", name + ".raw"},
                               {"bands", QJsonArray{QJsonObject{{"freq", 250}, {"gain", -3.3}}}}};
        };
        QJsonArray packs;
        for (int i = 0; i < 40; ++i)
            packs.append(minimal(QStringLiteral("大%1").arg(i, 2, 10, QLatin1Char('0'))));
        QJsonObject padded = packs[0].toObject();
        padded.insert("question", "?");
        packs[0] = padded;
        const auto text = [&large](const QJsonArray &packs) {
            QJsonObject file{{"packs", packs}};
            if (!large.isEmpty())
                file.insert("name", large);
            return QJsonDocument(file).toJson(QJsonDocument::Compact);
        };
        QByteArray written = text(packs);
        const qsizetype mark = written.indexOf("\"?\"") + 1;
        written = written.first(mark) + QByteArray(storeLimit - 1500 - written.size() + 1, 'x')
                  + written.sliced(mark + 1);
        QVERIFY(putBytes(fileOf(large), written));
        QVERIFY(putBytes(projectPath("乙"), QJsonDocument(fileObject("乙", {})).toJson()));

        QStringList told;
        ProjectStore store([&told](const QString &sentence) { told << sentence; });
        store.listProjects();
        store.loadCurvePacks();
        QCOMPARE(store.curvePacks.size(), 40);
        QJsonObject file = QJsonDocument::fromJson(fileBytes(fileOf(large))).object();
        packs = file.value("packs").toArray();
        packs.append(minimal(QStringLiteral("外来 01")));
        file.insert("packs", packs);
        QVERIFY(putBytes(fileOf(large), QJsonDocument(file).toJson(QJsonDocument::Compact)));
        // The packs the saves leave, as that program wrote them.
        const auto held = [&large](const QString &name) {
            const QJsonArray packs
                    = QJsonDocument::fromJson(fileBytes(fileOf(large)))["packs"].toArray();
            for (const QJsonValue &pack : packs) {
                if (pack["name"] == name)
                    return pack.toObject();
            }
            return QJsonObject();
        };
        for (const char *name : {"大01", "大02", "大03"}) {
            QVERIFY2(store.deleteCurvePack(indexOf(store, QString::fromUtf8(name))),
                     qPrintable(told.join('\n')));
            QCOMPARE(held("大39"), minimal("大39"));
            QCOMPARE(held("外来 01"), minimal("外来 01"));
        }
        QVERIFY(store.moveCurvePack(indexOf(store, "大04"), -1, "乙"));
        QCOMPARE(told, QStringList());
        QCOMPARE(packsAfterARestart().filter(QStringLiteral(":大")).size(), 37);
        QVERIFY(packsAfterARestart().contains(large + ":外来 01"));
        QVERIFY(packsAfterARestart().contains("乙:大04"));
    }

    // A pack saved again under a new name (a result saved for another scheme) while another
    // program removed it from its file, or renamed it there: the save writes nothing and says so,
    // where it once brought the pack back, or kept it twice.
    void aPackSavedAgainMeetsAnotherProgramsRemoval_data()
    {
        QTest::addColumn<QString>("theirs"); // the other program's name for it; empty: removed
        QTest::newRow("removed there") << QString();
        QTest::newRow("renamed there") << "主扩 09";
    }

    void aPackSavedAgainMeetsAnotherProgramsRemoval()
    {
        QFETCH(QString, theirs);
        QVERIFY(putBytes(projectPath("甲"), QJsonDocument(fileObject("甲", {pack("主扩 01", "甲"),
                                                                            pack("甲二", "甲")}))
                                                    .toJson()));
        QStringList told;
        ProjectStore store([&told](const QString &sentence) { told << sentence; });
        store.listProjects();
        store.loadCurvePacks();
        QList<CurvePack> left{pack("甲二", "甲")};
        if (!theirs.isEmpty())
            left.prepend(pack(theirs, "甲"));
        const QByteArray text = QJsonDocument(fileObject("甲", left)).toJson();
        QVERIFY(putBytes(projectPath("甲"), text));

        CurvePack again = store.curvePacks[indexOf(store, "主扩 01")];
        again.name = QStringLiteral("主扩 02");
        again.freq = ramp(8, 100.0f);
        again.level = ramp(8, -3.0f);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not writing .*甲.json"));
        QVERIFY(!store.savePack(again, indexOf(store, "主扩 01")));
        QCOMPARE(fileBytes(projectPath("甲")), text);
        QVERIFY2(told.size() == 1 && told[0].contains("「甲.json」刚被别的程序改过")
                         && told[0].contains("「主扩 02」"),
                 qPrintable(told.join('\n')));
        QVERIFY(QDir(rawDir()).entryList(QDir::Files).isEmpty());
    }

    // A data folder of 1,100 projects that an earlier version wrote without their curve counts,
    // so that every save rewrites them all, with the usual limit of 1,024 open files: a move
    // and a new result are both written and read back.
    void aSaveOfManyFilesFitsTheOpenFileLimit()
    {
        constexpr int projects = 1100;
        for (int p = 0; p < projects; ++p) {
            const QString project = storetest::numberedProject(p, 4);
            QJsonObject object = fileObject(project, {pack(project + " 一", project)});
            object.remove("curves");
            QVERIFY(putBytes(projectPath(project), QJsonDocument(object).toJson()));
        }
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit usual = saved;
        usual.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &usual), 0);
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        const bool moved = store.moveCurvePack(indexOf(store, "工程 0007 一"), -1, "工程 0900");
        CurvePack result = pack("新", "工程 0012");
        result.freq = ramp(8, 100.0f);
        result.level = ramp(8, -3.0f);
        const bool added = store.savePack(result, -1);
        setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(moved && added);
        const QStringList read = packsAfterARestart();
        QCOMPARE(read.size(), projects + 1);
        QVERIFY(read.contains("工程 0900:工程 0007 一") && read.contains("工程 0012:新"));
        QCOMPARE(QJsonDocument::fromJson(fileBytes(projectPath("工程 0500"))).object()["curves"],
                 QJsonValue(2));
    }
};

SNT_TEST_MAIN(OtherWritersTest)
#include "OtherWritersTest.moc"
