#include "files/StagedFiles.h"
#include "files/DataFolder.h"
#include "files/StoreFile.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace {

// Makes every later open with O_TMPFILE in this process fail as it does on file systems without
// unnamed files (NFS, many FUSE file systems): EOPNOTSUPP.
bool refuseUnnamedFiles()
{
    constexpr unsigned unnamedFlag = O_TMPFILE & ~O_DIRECTORY;
    sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, unnamedFlag, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
           && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Whether O_TMPFILE works in `folder` for this process.
bool unnamedFilesWork(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// A program saving `targets` together that is killed once every file was written beside its
// target and before any was put in place, as by a power cut or the task manager. True once it
// died so.
bool saveKilledBeforeItsRenames(const QStringList &targets, bool unnamedFiles)
{
    const pid_t child = fork();
    if (child == 0) {
        if (!unnamedFiles && !refuseUnnamedFiles())
            _exit(3);
        store::StagedFiles staged;
        for (const QString &target : targets) {
            if (!staged.stage(target, QByteArray("{\"packs\": []}\n")))
                _exit(4);
        }
        raise(SIGKILL);
        _exit(5);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status)
           && WTERMSIG(status) == SIGKILL;
}

// Every file in `folder`, hidden ones included.
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

// Files written together reach the disk whole or not at all; what a save cut short leaves is
// removed at the next start, and nothing else is.
class StagedFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(documentsRoot()).removeRecursively();
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
