#include "startup/BatchCurveFolder.h"

#include "common/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snt::startup {

namespace {

const QString folderPrefix = QStringLiteral("sonetra-eq-batch-");
// Present while the batch that made the folder runs, or after it was killed.
const QString runningMark = QStringLiteral("batch-running");

// The folder at `path`, opened without following a link, when it is this user's; -1 otherwise.
int openOwnFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd >= 0 && ::fstat(fd, &status) == 0 && status.st_uid == ::geteuid())
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

BatchCurveFolder::BatchCurveFolder()
{
    removeStaleFolders();
    folder_.emplace(QDir::tempPath() + QLatin1Char('/') + folderPrefix + QStringLiteral("XXXXXX"));
    folder_->setAutoRemove(false);
    if (!folder_->isValid())
        return;
    // Locked before it is marked: a batch clearing up meanwhile finds it unmarked and leaves it.
    const int fd = openOwnFolder(path());
    QFile mark(filePath(runningMark));
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && mark.open(QIODevice::WriteOnly)) {
        lock_ = fd;
        return;
    }
    if (fd >= 0)
        ::close(fd);
    QDir().rmdir(path());
}

BatchCurveFolder::~BatchCurveFolder()
{
    if (!isValid())
        return;
    QFile::remove(filePath(runningMark));
    QDir().rmdir(path());
    ::close(lock_);
}

void BatchCurveFolder::removeStaleFolders()
{
    const QFileInfoList folders
            = QDir::temp().entryInfoList({folderPrefix + QLatin1Char('*')},
                                         QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    int removed = 0;
    for (const QFileInfo &folder : folders) {
        const int fd = openOwnFolder(folder.filePath());
        if (fd < 0)
            continue;
        // Held by a running batch, or no batch's that was killed: left alone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0
            && QFileInfo::exists(folder.filePath() + QLatin1Char('/') + runningMark)
            && QDir(folder.filePath()).removeRecursively())
            ++removed;
        ::close(fd);
    }
    if (removed > 0)
        sntInfo(lcStartup, "[EqBatch]")
                << "removed" << removed << "curve folders killed batches left in"
                << QDir::tempPath();
}

} // namespace snt::startup
