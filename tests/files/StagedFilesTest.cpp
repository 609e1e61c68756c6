#include "files/StagedFiles.h"
#include "files/DataFolder.h"
#include "files/StoreFile.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/files/CutShortSaves.h"
#include "tests/support/TestMain.h"

#include <QStandardPaths>

#include <functional>
#include <sched.h>
#include <sys/stat.h>

namespace {

// Where a process of the test runs, as a copy of the program in a container or a sandbox, or on
// another machine sharing the folder, would: with processes of its own (a PID namespace of its
// own, where this test's process numbers mean nothing) and a host name of its own (unless empty).
struct Elsewhere
{
    bool ownProcesses = false;
    QByteArray hostName;
};

constexpr int namespacesRefused = 77;

#ifdef __NR_rename
constexpr long renameCall = __NR_rename;
#else
constexpr long renameCall = __NR_renameat2; // systems without it call renameat2
#endif

// Starts a child process that runs `work` there and exits with what it returns, or with
// namespacesRefused when the system gives no such namespaces.
pid_t startElsewhere(const Elsewhere &where, const std::function<int()> &work)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    const int flags = (where.ownProcesses ? CLONE_NEWPID : 0)
                      | (where.hostName.isEmpty() ? 0 : CLONE_NEWUTS);
    if (flags != 0
        && (unshare(CLONE_NEWUSER | flags) != 0
            || (!where.hostName.isEmpty()
                && sethostname(where.hostName.constData(), where.hostName.size()) != 0)))
        _exit(namespacesRefused);
    // unshare() puts the children forked after it in the new PID namespace, not the caller.
    const pid_t worker = where.ownProcesses ? fork() : 0;
    _exit(worker == 0 ? work() : exitCodeOf(worker));
}

// Sets the file's modification time `seconds` back from now.
bool makeOlder(const QString &path, qint64 seconds)
{
    const timespec then{time(nullptr) - seconds, 0};
    const timespec times[2] = {then, then};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QString desktop()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

} // namespace

// Files written together reach the disk whole or not at all; what a save cut short leaves is
// removed once no save can need it any more, and nothing else is.
class StagedFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(documentsRoot()).removeRecursively();
        QDir(desktop()).removeRecursively();
        initStorageFolders();
    }

    // A kill between writing the files beside their targets and renaming them over leaves
    // those files; the next start removes them, whether or not the file system gives unnamed
    // files, and leaves the user's own copies beside the project, the targets as they were and
    // the staged files of a save that still runs.
    void leftoversOfKilledSavesGoAtTheNextStart_data()
    {
        QTest::addColumn<bool>("unnamedFiles");
        QTest::newRow("with O_TMPFILE") << true;
        QTest::newRow("without O_TMPFILE") << false;
    }

    void leftoversOfKilledSavesGoAtTheNextStart()
    {
        QFETCH(bool, unnamedFiles);
        if (unnamedFiles && !unnamedFilesWork(projectsDir()))
            SNT_SKIP("this file system gives no unnamed files (O_TMPFILE)");
        const QString project = projectsDir() + QStringLiteral("/甲.json");
        const QByteArray held = R"({"name": "甲", "packs": [], "curves": 0})";
        const QStringList users{QStringLiteral("甲.json.backup"), QStringLiteral("甲.json.bak"),
                                QStringLiteral("甲.json.XYZ123")};
        QVERIFY(putBytes(project, held) && putBytes(curvePackRootFile(), held));
        for (const QString &name : users)
            QVERIFY(putBytes(projectsDir() + QLatin1Char('/') + name, "用户自己的"));
        const QStringList projectsBefore = filesIn(projectsDir());
        const QStringList curvesBefore = filesIn(QFileInfo(curvePackRootFile()).path());
        const QStringList targets{project, curvePackRootFile(),
                                  rawDir() + QStringLiteral("/a.raw")};

        for (int kill = 0; kill < 3; ++kill)
            QVERIFY(saveKilledBeforeItsRenames(targets, unnamedFiles));
        QVERIFY(filesIn(projectsDir()).size() > projectsBefore.size());
        QVERIFY(!filesIn(rawDir()).isEmpty());
        store::StagedFiles running; // a save of this program that has not ended
        QVERIFY(running.stage(project, QByteArray("{}")));

        initStorageFolders(); // the next start
        QStringList projectsAfter = filesIn(projectsDir());
        QCOMPARE(projectsAfter.size(), projectsBefore.size() + 1);
        projectsAfter.removeIf([](const QString &name) { return name.startsWith('.'); });
        QCOMPARE(projectsAfter, projectsBefore);
        QCOMPARE(filesIn(QFileInfo(curvePackRootFile()).path()), curvesBefore);
        QCOMPARE(filesIn(rawDir()), QStringList());
        QCOMPARE(fileBytes(project), held);
        QCOMPARE(running.commit(), 1);
        QCOMPARE(filesIn(projectsDir()), projectsBefore);
        QCOMPARE(fileBytes(project), QByteArray("{}"));
    }

    // A start never removes the staged files of a save that still runs, wherever that save
    // runs: here the start runs in a PID namespace of its own, where the save's process number
    // means nothing (as a copy of the program in a sandbox or a container, or on another machine
    // sharing the folder), and with a host name that reads the same as the save's in a file
    // name. The save then puts its file in place.
    void aRunningSaveKeepsItsFilesThroughAnotherStart_data()
    {
        QTest::addColumn<QByteArray>("savingHost");
        QTest::addColumn<QByteArray>("startingHost");
        QTest::newRow("start in another PID namespace") << QByteArray() << QByteArray();
        QTest::newRow("host names alike in a file name")
                << QByteArray("studio_1") << QByteArray("studio-1");
    }

    void aRunningSaveKeepsItsFilesThroughAnotherStart()
    {
        QFETCH(QByteArray, savingHost);
        QFETCH(QByteArray, startingHost);
        const QString project = projectsDir() + QStringLiteral("/甲.json");
        const QByteArray saved = R"({"name": "甲", "packs": [], "curves": 0})";
        QVERIFY(putBytes(project, "{}"));
        int staged[2];
        int go[2];
        QVERIFY(pipe(staged) == 0 && pipe(go) == 0);
        const pid_t save = startElsewhere({false, savingHost}, [&] {
            close(staged[0]);
            close(go[1]);
            store::StagedFiles files;
            char sign = 0;
            if (!files.stage(project, saved) || write(staged[1], "s", 1) != 1
                || read(go[0], &sign, 1) != 1)
                return 1;
            return files.commit() == 1 ? 0 : 2;
        });
        close(staged[1]);
        close(go[0]);
        char sign = 0;
        const bool savingRuns = read(staged[0], &sign, 1) == 1;
        const QStringList during = filesIn(projectsDir());
        const int start = exitCodeOf(startElsewhere({true, startingHost}, [] {
            initStorageFolders();
            return 0;
        }));
        const QStringList afterTheStart = filesIn(projectsDir());
        const bool toldToCommit = savingRuns && write(go[1], "g", 1) == 1;
        close(go[1]);
        close(staged[0]);
        const int saving = exitCodeOf(save);
        if (saving == namespacesRefused || start == namespacesRefused)
            SNT_SKIP("the system gives no user, PID and UTS namespaces");

        QVERIFY(savingRuns && toldToCommit);
        QCOMPARE(during.size(), 2); // the project and the save's staged file
        QCOMPARE(start, 0);
        QCOMPARE(afterTheStart, during);
        QCOMPARE(saving, 0);
        QCOMPARE(fileBytes(project), saved);
        QCOMPARE(filesIn(projectsDir()), QStringList{"甲.json"});
    }

    // Where a start cannot tell whether the process that staged a file still runs (another PID
    // namespace, another machine), the file goes once it is older than any save takes, and not
    // before.
    void leftoversFromElsewhereGoOnceADayOld()
    {
        const QString folder = projectsDir();
        for (int save = 0; save < 2; ++save) {
            const int killed = exitCodeOf(startElsewhere({true, {}}, [&folder]() -> int {
                store::StagedFiles files;
                // Ends without a word, as a kill would: its staged file stays.
                _exit(files.stage(folder + QStringLiteral("/甲.json"), QByteArray("{}")) ? 0 : 1);
            }));
            if (killed == namespacesRefused)
                SNT_SKIP("the system gives no user and PID namespaces");
            QCOMPARE(killed, 0);
        }
        const QStringList left = stagedFilesIn(folder);
        QCOMPARE(left.size(), 2);
        QVERIFY(makeOlder(folder + QLatin1Char('/') + left[0], 24 * 3600 + 60));
        QVERIFY(makeOlder(folder + QLatin1Char('/') + left[1], 23 * 3600));

        initStorageFolders();
        QCOMPARE(stagedFilesIn(folder), QStringList{left[1]});
    }

    // An export to the desktop killed while it writes leaves nothing there where the file system
    // gives unnamed files; killed after that (or where it gives none) it leaves a staged file,
    // which the next export into that folder removes. The earlier export stays as it was.
    void aKilledExportLeavesNothingAfterTheNextOne_data()
    {
        QTest::addColumn<bool>("unnamedFiles");
        QTest::addColumn<bool>("killedWhileWriting");
        QTest::newRow("while writing, with O_TMPFILE") << true << true;
        QTest::newRow("while writing, without O_TMPFILE") << false << true;
        QTest::newRow("before its rename, with O_TMPFILE") << true << false;
        QTest::newRow("before its rename, without O_TMPFILE") << false << false;
    }

    void aKilledExportLeavesNothingAfterTheNextOne()
    {
        QFETCH(bool, unnamedFiles);
        QFETCH(bool, killedWhileWriting);
        const QString preset = desktop() + QStringLiteral("/主扩.kvr");
        QVERIFY(QDir().mkpath(desktop()));
        if (unnamedFiles && !unnamedFilesWork(desktop()))
            SNT_SKIP("this file system gives no unnamed files (O_TMPFILE)");
        QVERIFY(store::saveExport(preset, "earlier"));
        const pid_t exporting = fork();
        if (exporting == 0) {
            if ((!unnamedFiles && !refuseUnnamedFiles())
                || !(killedWhileWriting
                             ? killAtSystemCalls({__NR_fdatasync})
                             : killAtSystemCalls({renameCall, __NR_renameat, __NR_renameat2})))
                _exit(3);
            store::saveExport(preset, "cut short");
            _exit(4);
        }
        QCOMPARE(exitCodeOf(exporting), 128 + SIGSYS);
        QCOMPARE(fileBytes(preset), QByteArray("earlier"));
        if (unnamedFiles && killedWhileWriting)
            QCOMPARE(filesIn(desktop()), QStringList{"主扩.kvr"});

        QVERIFY(store::saveExport(desktop() + QStringLiteral("/超低.kvr"), "next"));
        QCOMPARE(filesIn(desktop()), (QStringList{"主扩.kvr", "超低.kvr"}));
        QCOMPARE(fileBytes(preset), QByteArray("earlier"));
    }

    // However many files a save writes together, it holds no more than one of them open at a
    // time: here 1,100 files with room for 64 open files in all.
    void manyFilesSaveTogetherUnderAFewDescriptors()
    {
        constexpr int files = 1100;
        QStringList targets;
        for (int i = 0; i < files; ++i)
            targets << projectsDir() + QStringLiteral("/工程 %1.json").arg(i);
        store::StagedFiles staged;
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit few = saved;
        few.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &few), 0);
        bool stagedAll = true;
        for (int i = 0; i < files && stagedAll; ++i)
            stagedAll = staged.stage(targets[i], QByteArray::number(i));
        const qsizetype committed = staged.commit();
        setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(stagedAll);
        QCOMPARE(committed, files);
        for (int i = 0; i < files; i += 99)
            QCOMPARE(fileBytes(targets[i]), QByteArray::number(i));
        QCOMPARE(filesIn(projectsDir()).size(), files);
    }

    // A file written again keeps who may read it.
    void aReplacedFileKeepsItsPermissions()
    {
        const QString path = projectsDir() + QStringLiteral("/私人.json");
        QVERIFY(putBytes(path, "{}"));
        const QFileDevice::Permissions own = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(QFile::setPermissions(path, own));
        QVERIFY(store::saveAtomically(path, QByteArray("{\"packs\": []}")));
        QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), own);
    }
};

SNT_TEST_MAIN(StagedFilesTest)
#include "StagedFilesTest.moc"
