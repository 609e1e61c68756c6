#include "app/store/FileStamp.h"
#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/support/TestMain.h"

#include <QDateTime>

#include <algorithm>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr int projects = 50;
constexpr int packsPerProject = 4;
constexpr int rootPacks = 10;

QString projectName(int i)
{
    return storetest::numberedProject(i, 2);
}

// A project file, or the root file (`project` empty), holding packs of these names.
bool writeFile(const QString &project, const QStringList &packs)
{
    QJsonArray array;
    for (const QString &name : packs)
        array.append(QJsonObject{{"schema", 3}, {"name", name}, {"rawFile", name + ".raw"}});
    return storetest::writePackFile(project, array);
}

QString projectPath(int i)
{
    return projectsDir() + QLatin1Char('/') + projectName(i) + QStringLiteral(".json");
}

QStringList packNames(int project, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("%1 pack %2").arg(project).arg(i);
    return names;
}

// The files the kernel saw opened in the watched folders (inotify), by name, in order; the
// folders' own listings are left out.
class FileOpens
{
public:
    explicit FileOpens(const QStringList &folders)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        for (const QString &folder : folders)
            watching_ = fd_ >= 0 && inotify_add_watch(fd_, QFile::encodeName(folder), IN_OPEN) >= 0;
    }
    ~FileOpens()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileOpens(const FileOpens &) = delete;
    FileOpens &operator=(const FileOpens &) = delete;

    bool watching() const { return watching_; }

    // The files opened since the last call, each once however often it was opened: a file
    // that changed a moment before is read by the listing and again by the loading.
    QStringList take()
    {
        QStringList names;
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
            for (const char *at = buffer; at < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                const QString name = QFile::decodeName(event->name);
                if (event->len > 0 && !(event->mask & IN_ISDIR) && !names.contains(name))
                    names << name;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

private:
    int fd_;
    bool watching_ = false;
};

} // namespace

// Listing the projects and loading the packs again, as the curve window does whenever it opens,
// reads the files that changed since the store last read them, not the whole store. Counted by
// the kernel's reports of opened files, not timed. A file that changed a moment before the store
// looked at it is read again at the next look (a change in the same moment would not show in
// its status), so the files are first left to settle where a test counts reads.
class StoreReadsTest : public QObject
{
    Q_OBJECT

    ProjectStore store;

    void listAndLoad()
    {
        store.listProjects();
        store.loadCurvePacks();
    }

    // Waits until every file of the store has settled, then lists and loads once, so that the
    // store's looks at them prove them unchanged from then on.
    void settle()
    {
        QStringList paths{curvePackRootFile()};
        for (int p = 0; p < projects; ++p)
            paths << projectPath(p);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(paths.cbegin(), paths.cend(),
                                             [](const QString &path) {
                                                 return store::FileStamp::of(path).settled();
                                             }),
                                 2 * store::FileStamp::settleMs + 5000);
        listAndLoad();
    }

private slots:
    void initTestCase()
    {
        initStorageFolders();
        for (int p = 0; p < projects; ++p)
            QVERIFY(writeFile(projectName(p), packNames(p, packsPerProject)));
        QVERIFY(writeFile(QString(), packNames(-1, rootPacks)));
        listAndLoad();
        QCOMPARE(store.projects.size(), projects);
        QCOMPARE(store.curvePacks.size(), projects * packsPerProject + rootPacks);
        // Written once in the store's own form, as every file is after the program's first save.
        QVERIFY(store.saveCurvePacks());
        settle();
    }

    void nothingChangedNothingRead()
    {
        FileOpens opens({projectsDir(), QFileInfo(curvePackRootFile()).path()});
        if (!opens.watching())
            SNT_SKIP("the kernel reports no opened files here (inotify)");
        listAndLoad();
        QCOMPARE(opens.take(), QStringList());
        QCOMPARE(store.curvePacks.size(), projects * packsPerProject + rootPacks);
    }

    // Another program (or a copy the user made) changed a file: that file, and only it, is read
    // again, and what it holds now is listed and loaded. A change of the same size shows by its
    // time.
    void aFileChangedBehindTheStoresBackIsReadAgain()
    {
        FileOpens opens({projectsDir(), QFileInfo(curvePackRootFile()).path()});
        if (!opens.watching())
            SNT_SKIP("the kernel reports no opened files here (inotify)");
        QVERIFY(writeFile(projectName(7), packNames(7, packsPerProject) << "New"));
        opens.take();
        listAndLoad();
        QCOMPARE(opens.take(), QStringList{projectName(7) + ".json"});
        QCOMPARE(store.curvePacks.size(), projects * packsPerProject + rootPacks + 1);
        QCOMPARE(std::count_if(store.curvePacks.cbegin(), store.curvePacks.cend(),
                               [](const CurvePack &pack) {
                                   return pack.name == "New" && pack.project == projectName(7);
                               }),
                 1);

        settle();
        QStringList renamed = packNames(9, packsPerProject);
        renamed[0].replace("pack", "PACK");
        QVERIFY(writeFile(projectName(9), renamed));
        QFile file(projectPath(9));
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                    QFileDevice::FileModificationTime));
        file.close();
        opens.take();
        listAndLoad();
        QCOMPARE(opens.take(), QStringList{projectName(9) + ".json"});
        QVERIFY(std::any_of(store.curvePacks.cbegin(), store.curvePacks.cend(),
                            [&](const CurvePack &pack) { return pack.name == renamed[0]; }));
    }

    // After an edit the store wrote one project file: the next listing and load read that file
    // alone.
    void afterAnEditOnlyTheWrittenFileIsRead()
    {
        FileOpens opens({projectsDir(), QFileInfo(curvePackRootFile()).path()});
        if (!opens.watching())
            SNT_SKIP("the kernel reports no opened files here (inotify)");
        // The files changed behind its back above, in the store's own form again.
        QVERIFY(store.saveCurvePacks());
        settle();
        const auto edited = std::find_if(
                store.curvePacks.begin(), store.curvePacks.end(),
                [](const CurvePack &pack) { return pack.project == projectName(12); });
        QVERIFY(edited != store.curvePacks.end());
        edited->delayMs += 1.5;
        QVERIFY(store.saveCurvePacks());
        opens.take();
        listAndLoad();
        QCOMPARE(opens.take(), QStringList{projectName(12) + ".json"});
        QVERIFY(std::any_of(store.curvePacks.cbegin(), store.curvePacks.cend(),
                            [](const CurvePack &pack) { return pack.delayMs == 1.5; }));
    }
};

SNT_TEST_MAIN(StoreReadsTest)
#include "StoreReadsTest.moc"
