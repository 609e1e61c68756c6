#include "files/StagedFiles.h"

#include "common/Log.h"
#include "files/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

const QString stagedPrefix = QStringLiteral(".sonetra-staged-");

// The machine's name as it may stand in a file name.
QString machineName()
{
    static const QString name = [] {
        QString host = QSysInfo::machineHostName();
        host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.]")), QStringLiteral("_"));
        return host.isEmpty() ? QStringLiteral("_") : host;
    }();
    return name;
}

// ".sonetra-staged-<process>-<machine>-<random>": the process and the machine tell whether the
// save that staged it still runs.
QString stagedName()
{
    return stagedPrefix
           + QStringLiteral("%1-%2-%3")
                     .arg(::getpid())
                     .arg(machineName())
                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Only a process that is known to have ended counts as not running.
bool processRuns(qint64 process)
{
    if (process <= 0 || process > std::numeric_limits<pid_t>::max() || process == ::getpid())
        return true;
    return ::kill(pid_t(process), 0) == 0 || errno != ESRCH;
}

// Whether the staged file of that name belongs to a save of this machine that no longer runs.
bool isLeftover(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^(\d{1,10})-(.+)-[0-9a-f]{8}$)"));
    const QRegularExpressionMatch match = pattern.match(name.sliced(stagedPrefix.size()));
    return match.hasMatch() && match.captured(2) == machineName()
           && !processRuns(match.captured(1).toLongLong());
}

// The file that writing to `path` replaces: the end of a chain of links, as an editor saving
// through a link changes what it leads to and keeps the link.
QString finalTarget(const QString &path)
{
    QFileInfo file(path);
    for (int depth = 0; depth < 128 && file.isSymLink(); ++depth)
        file.setFile(file.symLinkTarget());
    return file.isSymLink() ? path : file.filePath();
}

// A new staged file in `folder`, opened for writing; -1 with errno set when none could be made.
int createStagedFile(const QString &folder, QString *path)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        *path = folder + QLatin1Char('/') + stagedName();
        const int fd = ::open(QFile::encodeName(*path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes the whole file through `write`, then syncs and closes it: false when any of it failed.
bool writeAndClose(int fd, const std::function<bool(QIODevice &)> &write, QString *error)
{
    QFile file;
    errno = 0;
    bool written = file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) && write(file)
                   && file.flush() && file.error() == QFileDevice::NoError;
    // The system's reason for a write that failed says more than the file's.
    if (!written)
        *error = errno != 0 ? systemError() : file.errorString();
    file.close();
    // A file system that cannot sync (EINVAL) has nothing more to write.
    if (written && ::fdatasync(fd) != 0 && errno != EINVAL) {
        written = false;
        *error = systemError();
    }
    if (::close(fd) != 0 && written) {
        written = false;
        *error = systemError();
    }
    return written;
}

} // namespace

StagedFiles::StagedFiles() = default;

StagedFiles::~StagedFiles()
{
    discardFrom(0);
}

bool StagedFiles::stage(const QString &path, const std::function<bool(QIODevice &)> &write)
{
    const QString target = finalTarget(path);
    struct stat existing;
    const bool replaces = ::stat(QFile::encodeName(target).constData(), &existing) == 0;
    if (replaces && S_ISDIR(existing.st_mode)) {
        sntWarning(lcStore, "[Store]") << "cannot write" << path << ": a folder stands there";
        return false;
    }
    if (replaces && !QFileInfo(target).isWritable()) {
        sntWarning(lcStore, "[Store]") << "cannot write" << path << ": the file is read-only";
        return false;
    }
    QString staged;
    const int fd = createStagedFile(QFileInfo(target).path(), &staged);
    if (fd < 0) {
        sntWarning(lcStore, "[Store]") << "cannot write" << path << ":" << systemError();
        return false;
    }
    if (replaces)
        ::fchmod(fd, existing.st_mode & 07777);
    QString error;
    if (!writeAndClose(fd, write, &error)) {
        sntWarning(lcStore, "[Store]") << "writing" << path << "failed:" << error;
        QFile::remove(staged);
        return false;
    }
    files_.push_back({target, staged});
    return true;
}

bool StagedFiles::stage(const QString &path, const QByteArray &content)
{
    return stage(path, [&content](QIODevice &device) {
        return writeAll(device, content.constData(), content.size());
    });
}

qsizetype StagedFiles::commit()
{
    std::size_t committed = 0;
    for (; committed < files_.size(); ++committed) {
        const Staged &file = files_[committed];
        if (::rename(QFile::encodeName(file.staged).constData(),
                     QFile::encodeName(file.target).constData())
            != 0) {
            sntWarning(lcStore, "[Store]") << "saving" << file.target << "failed:" << systemError();
            break;
        }
    }
    discardFrom(committed);
    files_.clear();
    return qsizetype(committed);
}

void StagedFiles::discardFrom(std::size_t first)
{
    for (std::size_t i = first; i < files_.size(); ++i)
        QFile::remove(files_[i].staged);
}

void removeStagingLeftovers(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({stagedPrefix + QLatin1Char('*')},
                                            QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    int removed = 0;
    for (const QString &name : names) {
        if (isLeftover(name) && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    if (removed > 0)
        sntInfo(lcStore, "[Store]")
                << "removed" << removed << "staged files that cut-short saves left in" << folder;
}

} // namespace store
