#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <array>

namespace {

QString documents()
{
    return QDir::homePath() + QStringLiteral("/Documents");
}
QString root()
{
    return documents() + QStringLiteral("/Tovan测量工作流");
}

} // namespace

class DataFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), documents());
    }

    void init()
    {
        for (const QString &folder : {documents(), legacyDataDir()}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QSettings().clear();
    }

    void foldersLieInTheRootAndComeBack()
    {
        initStorageFolders();
        for (const char *name : {"校准", "工程", "曲线", "曲线/raw", "临时"})
            QVERIFY2(QFileInfo(root() + "/" + QString::fromUtf8(name)).isDir(), name);
        QCOMPARE(curvePackRootFile(), root() + QStringLiteral("/曲线/curve_packs_root.json"));
        QCOMPARE(legacyDataDir(),
                 QDir::homePath() + QStringLiteral("/.local/share/Halvo/测量工作流"));
        QVERIFY(QDir(root()).removeRecursively()); // deleted while the program runs
        QCOMPARE(rawDir(), root() + QStringLiteral("/曲线/raw"));
        QVERIFY(QFileInfo(rawDir()).isDir() && projectsDir() == root() + QStringLiteral("/工程"));
    }

    void olderRootMovesOnlyWhenAlone_data()
    {
        QTest::addColumn<bool>("rootExists");
        QTest::newRow("only the older root") << false;
        QTest::newRow("both roots") << true;
    }

    void olderRootMovesOnlyWhenAlone()
    {
        QFETCH(bool, rootExists);
        const QString older = documents() + QStringLiteral("/Sonetra/工程/大厅.json");
        QVERIFY(putBytes(older, "{\"a\": 1}"));
        if (rootExists)
            QVERIFY(QDir().mkpath(root()));
        QCOMPARE(documentsRoot(), root());
        QCOMPARE(QFileInfo::exists(older), rootExists);
        QCOMPARE(fileBytes(root() + QStringLiteral("/工程/大厅.json")),
                 rootExists ? QByteArray() : QByteArray("{\"a\": 1}"));
    }

    void legacyDataIsImportedWithoutOverwriting()
    {
        const QString legacy = legacyDataDir();
        const QList<std::pair<QString, QByteArray>> files{
                {"/curve_packs_root.json", "{\"packs\": []}"},
                {"/projects/大厅.json", "legacy"},
                {"/projects/Hall 2.0.json", "hall"},
                {"/raw/a.raw", "SNTRAW3"},
                {"/raw/nested/b.raw", "nested"}};
        for (const auto &[name, bytes] : files)
            QVERIFY(putBytes(legacy + name, bytes));
        QVERIFY(putBytes(projectsDir() + QStringLiteral("/大厅.json"), "current"));

        initStorageFolders();
        QCOMPARE(fileBytes(curvePackRootFile()), QByteArray("{\"packs\": []}"));
        QCOMPARE(fileBytes(projectsDir() + QStringLiteral("/大厅.json")), QByteArray("current"));
        QCOMPARE(fileBytes(projectsDir() + QStringLiteral("/Hall 2.0.json")), QByteArray("hall"));
        QCOMPARE(fileBytes(rawDir() + QStringLiteral("/a.raw")), QByteArray("SNTRAW3"));
        QVERIFY(!QFileInfo::exists(rawDir() + QStringLiteral("/nested")));
        QCOMPARE(fileBytes(legacy + QStringLiteral("/projects/大厅.json")), QByteArray("legacy"));
        QVERIFY(QFileInfo::exists(legacy + QStringLiteral("/raw/a.raw")));

        // Once the store is in use the legacy folder is never looked at again.
        QVERIFY(putBytes(legacy + QStringLiteral("/projects/new.json"), "{}"));
        initStorageFolders();
        QVERIFY(!QFileInfo::exists(projectsDir() + QStringLiteral("/new.json")));
    }

    // A FIFO would hold up the start, a link to a device would be copied without end: the
    // import copies regular files only, and names what it passed over in the log.
    void legacySpecialFilesAreNotCopied_data()
    {
        QTest::addColumn<bool>("fifo"); // else a link to an endless device
        QTest::addColumn<QString>("name");
        QTest::newRow("FIFO as root file") << true << "/curve_packs_root.json";
        QTest::newRow("endless link as project") << false << "/projects/特殊.json";
        QTest::newRow("endless link as capture") << false << "/raw/b.raw";
    }

    void legacySpecialFilesAreNotCopied()
    {
        QFETCH(bool, fifo);
        QFETCH(QString, name);
        const QString legacy = legacyDataDir();
        for (const char *file : {"/curve_packs_root.json", "/projects/大厅.json", "/raw/a.raw"}) {
            if (name != QLatin1String(file))
                QVERIFY(putBytes(legacy + file, "{}"));
        }
        QVERIFY(fifo ? putFifo(legacy + name) : putEndlessLink(legacy + name));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("not copying .*" + QRegularExpression::escape(name)
                                                + " : not a regular file"));
        initStorageFolders();
        QVERIFY(QFileInfo::exists(projectsDir() + QStringLiteral("/大厅.json")));
        QVERIFY(QFileInfo::exists(rawDir() + QStringLiteral("/a.raw")));
        const QString copied = name.startsWith("/projects/") ? projectsDir() + name.mid(9)
                               : name.startsWith("/raw/")    ? rawDir() + name.mid(4)
                                                             : curvePackRootFile();
        QVERIFY(!QFileInfo::exists(copied));
    }

    void settingsPathsMoveToTheNewRoot()
    {
        const QString old = documents() + QStringLiteral("/Sonetra/");
        // key, stored value, value after the rewrite
        const QList<std::array<QString, 3>> cases{
                {"Calibration/deep/mic", old + "校准/mic.txt", root() + "/校准/mic.txt"},
                {"otherCase", documents() + "/sonetra/x.txt", documents() + "/sonetra/x.txt"},
                {"noSlash", documents() + "/Sonetra", documents() + "/Sonetra"},
                {"elsewhere", "/opt" + old, "/opt" + old},
        };
        for (const auto &[key, value, moved] : cases)
            QSettings().setValue(key, value);
        migrateSettingsPaths();
        QSettings reread;
        for (const auto &[key, value, moved] : cases)
            QCOMPARE(reread.value(key).toString(), moved);
        QVERIFY(fileBytes(reread.fileName()).contains("Tovan")); // on disk at once
    }
};

SNT_TEST_MAIN(DataFolderTest)
#include "DataFolderTest.moc"
