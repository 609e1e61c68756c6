#include "app/DataFolder.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString documents()
{
    return QDir::homePath() + QStringLiteral("/Documents");
}

bool putText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class DataFolderTest : public QObject {
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
        for (const QString& folder : {documents(), legacyDataDir()}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QSettings().clear();
    }

    void pathsLieInTheRoot()
    {
        const QString root = documents() + QStringLiteral("/Tovan测量工作流");
        QCOMPARE(documentsRoot(), root);
        QCOMPARE(projectsDir(), root + QStringLiteral("/工程"));
        QCOMPARE(rawDir(), root + QStringLiteral("/曲线/raw"));
        QCOMPARE(curvePackRootFile(), root + QStringLiteral("/曲线/curve_packs_root.json"));
        QVERIFY(QFileInfo(rawDir()).isDir() && QFileInfo(projectsDir()).isDir());
        QCOMPARE(legacyDataDir(), QDir::homePath() + QStringLiteral("/.local/share/Halvo/测量工作流"));
    }

    void deletedRootComesBackAtTheNextRequest()
    {
        QVERIFY(QDir(documentsRoot()).removeRecursively());
        QVERIFY(QFileInfo(rawDir()).isDir());
    }

    void olderRootIsRenamedWithItsContent()
    {
        QVERIFY(putText(documents() + QStringLiteral("/Sonetra/工程/大厅.json"), "{\"a\": 1}"));
        const QString root = documentsRoot();
        QVERIFY(!QFileInfo::exists(documents() + QStringLiteral("/Sonetra")));
        QCOMPARE(fileBytes(root + QStringLiteral("/工程/大厅.json")), QByteArray("{\"a\": 1}"));
    }

    void olderRootIsLeftAloneWhenBothExist()
    {
        QVERIFY(putText(documents() + QStringLiteral("/Sonetra/old.txt"), "old"));
        QVERIFY(QDir().mkpath(documents() + QStringLiteral("/Tovan测量工作流")));
        const QString root = documentsRoot();
        QVERIFY(QFileInfo::exists(documents() + QStringLiteral("/Sonetra/old.txt")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/old.txt")));
    }

    void initCreatesTheSubFolders()
    {
        initStorageFolders();
        for (const char* name : {"校准", "工程", "曲线", "曲线/raw", "临时"})
            QVERIFY2(QFileInfo(documentsRoot() + "/" + QString::fromUtf8(name)).isDir(), name);
    }

    void legacyDataIsImportedWithoutOverwriting()
    {
        const QString legacy = legacyDataDir();
        QVERIFY(putText(legacy + QStringLiteral("/curve_packs_root.json"), "{\"packs\": []}"));
        QVERIFY(putText(legacy + QStringLiteral("/projects/大厅.json"), "legacy"));
        QVERIFY(putText(legacy + QStringLiteral("/projects/Hall 2.0.json"), "hall"));
        QVERIFY(putText(legacy + QStringLiteral("/raw/a.raw"), "SNTRAW3"));
        QVERIFY(putText(legacy + QStringLiteral("/raw/nested/b.raw"), "nested"));
        QVERIFY(putText(projectsDir() + QStringLiteral("/大厅.json"), "current"));

        initStorageFolders();
        const QString root = documentsRoot();
        QCOMPARE(fileBytes(curvePackRootFile()), QByteArray("{\"packs\": []}"));
        QCOMPARE(fileBytes(root + QStringLiteral("/工程/大厅.json")), QByteArray("current"));
        QCOMPARE(fileBytes(root + QStringLiteral("/工程/Hall 2.0.json")), QByteArray("hall"));
        QCOMPARE(fileBytes(root + QStringLiteral("/曲线/raw/a.raw")), QByteArray("SNTRAW3"));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/曲线/raw/nested")));
        QCOMPARE(fileBytes(legacy + QStringLiteral("/projects/大厅.json")), QByteArray("legacy"));
        QVERIFY(QFileInfo::exists(legacy + QStringLiteral("/raw/a.raw")));
    }

    void importRunsOnlyWhileTheStoreIsUnused()
    {
        const QString legacy = legacyDataDir();
        QVERIFY(putText(legacy + QStringLiteral("/curve_packs_root.json"), "legacy"));
        QVERIFY(putText(legacy + QStringLiteral("/projects/new.json"), "{}"));
        QVERIFY(putText(curvePackRootFile(), "current"));
        initStorageFolders();
        QCOMPARE(fileBytes(curvePackRootFile()), QByteArray("current"));
        QVERIFY(!QFileInfo::exists(projectsDir() + QStringLiteral("/new.json")));
    }

    void nothingIsImportedWithoutALegacyRootFile()
    {
        QVERIFY(putText(legacyDataDir() + QStringLiteral("/projects/p.json"), "{}"));
        initStorageFolders();
        QVERIFY(!QFileInfo::exists(projectsDir() + QStringLiteral("/p.json")));
        QVERIFY(!QFileInfo::exists(curvePackRootFile()));
    }

    void copyNeverOverwrites()
    {
        const QString source = documents() + QStringLiteral("/s.txt");
        const QString target = documents() + QStringLiteral("/deep/er/t.txt");
        copyFileIfPresent(source, target);
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(putText(source, "new"));
        copyFileIfPresent(source, target);
        QCOMPARE(fileBytes(target), QByteArray("new"));
        QVERIFY(putText(source, "newer"));
        copyFileIfPresent(source, target);
        QCOMPARE(fileBytes(target), QByteArray("new"));
    }

    void settingsPathsMoveToTheNewRoot()
    {
        const QString old = documents() + QStringLiteral("/Sonetra/");
        {
            QSettings settings;
            settings.setValue("calibration/micFile", old + QStringLiteral("校准/mic.txt"));
            settings.setValue("Calibration/deep/card", old + QStringLiteral("card.cal"));
            settings.setValue("otherCase", documents() + QStringLiteral("/sonetra/x.txt"));
            settings.setValue("noSlash", documents() + QStringLiteral("/Sonetra"));
            settings.setValue("elsewhere", QStringLiteral("/opt") + old);
            settings.setValue("number", 42);
        }
        migrateSettingsPaths();
        QSettings reread;
        const QString root = documents() + QStringLiteral("/Tovan测量工作流/");
        QCOMPARE(reread.value("calibration/micFile").toString(), root + QStringLiteral("校准/mic.txt"));
        QCOMPARE(reread.value("Calibration/deep/card").toString(), root + QStringLiteral("card.cal"));
        QCOMPARE(reread.value("otherCase").toString(), documents() + QStringLiteral("/sonetra/x.txt"));
        QCOMPARE(reread.value("noSlash").toString(), documents() + QStringLiteral("/Sonetra"));
        QCOMPARE(reread.value("elsewhere").toString(), QStringLiteral("/opt") + old);
        QCOMPARE(reread.value("number").toInt(), 42);
        // Written to disk at once, not only held in memory.
        QVERIFY(fileBytes(reread.fileName()).contains("Tovan"));
    }
};

SNT_TEST_MAIN(DataFolderTest)
#include "DataFolderTest.moc"
