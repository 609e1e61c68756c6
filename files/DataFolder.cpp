#include "files/DataFolder.h"

#include "common/Log.h"
#include "files/StagedFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kRootName = QStringLiteral("Tovan测量工作流");
const QString kOlderRootName = QStringLiteral("Sonetra");
const QString kRootFileName = QStringLiteral("curve_packs_root.json");

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

QString subFolder(const QString &relative)
{
    const QString path = documentsRoot() + QLatin1Char('/') + relative;
    QDir().mkpath(path);
    return path;
}

// Copies every file directly inside `source` into `target`, keeping files already there.
void copyFolderFiles(const QString &source, const QString &target)
{
    QDir().mkpath(target);
    const QFileInfoList files
            = QDir(source).entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo &file : files)
        copyFileIfPresent(file.filePath(), target + QLatin1Char('/') + file.fileName());
}

} // namespace

QString documentsRoot()
{
    const QString documents = documentsFolder();
    const QString root = documents + QLatin1Char('/') + kRootName;
    const QString older = documents + QLatin1Char('/') + kOlderRootName;
    if (!QFileInfo::exists(root) && QFileInfo(older).isDir()) {
        if (QDir().rename(older, root))
            sntInfo(lcStore, "[Store]") << "moved the older data folder" << older << "to" << root;
        else
            sntWarning(lcStore, "[Store]") << "could not move the older data folder" << older;
    }
    QDir().mkpath(root);
    return root;
}

QString projectsDir()
{
    return subFolder(QStringLiteral("工程"));
}

QString rawDir()
{
    return subFolder(QStringLiteral("曲线/raw"));
}

QString curvePackRootFile()
{
    return subFolder(QStringLiteral("曲线")) + QLatin1Char('/') + kRootFileName;
}

QString legacyDataDir()
{
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return appData.isEmpty() ? QDir::homePath() + QStringLiteral("/.sonetra") : appData;
}

void initStorageFolders()
{
    const QString root = documentsRoot();
    for (const char *name : {"校准", "工程", "曲线", "曲线/raw", "临时"}) {
        const QString folder = root + QLatin1Char('/') + QString::fromUtf8(name);
        QDir().mkpath(folder);
        store::removeStagingLeftovers(folder);
    }

    // The root file doubles as the "already imported" mark: once it exists the store is in use
    // and the legacy folder is never looked at again.
    const QString rootFile = root + QStringLiteral("/曲线/") + kRootFileName;
    const QString legacy = legacyDataDir();
    const QString legacyRootFile = legacy + QLatin1Char('/') + kRootFileName;
    if (QFileInfo::exists(rootFile) || !QFileInfo::exists(legacyRootFile))
        return;
    sntInfo(lcStore, "[Store]") << "importing curve packs from" << legacy;
    copyFileIfPresent(legacyRootFile, rootFile);
    copyFolderFiles(legacy + QStringLiteral("/projects"), root + QStringLiteral("/工程"));
    copyFolderFiles(legacy + QStringLiteral("/raw"), root + QStringLiteral("/曲线/raw"));
}

void migrateSettingsPaths()
{
    const QString documents = documentsFolder();
    const QString oldPrefix = documents + QLatin1Char('/') + kOlderRootName + QLatin1Char('/');
    const QString newPrefix = documents + QLatin1Char('/') + kRootName + QLatin1Char('/');
    QSettings settings;
    bool changed = false;
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        const QString value = settings.value(key).toString();
        if (!value.startsWith(oldPrefix, Qt::CaseSensitive))
            continue;
        settings.setValue(key, QString(newPrefix + value.mid(oldPrefix.size())));
        changed = true;
    }
    if (changed)
        settings.sync();
}

void copyFileIfPresent(const QString &source, const QString &target)
{
    const QFileInfo info(source);
    if (!info.exists())
        return;
    // A FIFO would hold up the start until someone writes into it, and a link to a device would
    // be copied without end.
    if (!info.isFile()) {
        sntWarning(lcStore, "[Store]") << "not copying" << source << ": not a regular file";
        return;
    }
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::copy(source, target);
}
