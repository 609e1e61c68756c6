#include "files/StagedFiles.h"

#include "common/Log.h"
#include "files/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

const QString stagedPrefix = QStringLiteral(".sonetra-staged-");

// How long a staged file may wait for its save to end. A save writes its files one after the
// other and renames them at once, which takes seconds even for hundreds of files on a slow
// network drive; a day leaves room for that and for the clock of a machine sharing the folder
// being off by hours (one that keeps local time in its hardware clock is off by up to 14).
constexpr qint64 longestSaveSeconds = 24 * 60 * 60;

// Where process numbers mean the same processes as in this one: the kernel's boot and this
// process's PID namespace, "<boot id>.<namespace>". A copy of the program in a container or a
// sandbox, or on another machine sharing the folder, has another, whatever its host's name;
// "_" where the system does not tell, which matches no one. Not kept: a child a fork made may
// run in a namespace of its own.
QString processNamespace()
{
    static const QByteArray boot = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().replace('-', "")
                                              : QByteArray();
    }();
    struct stat pids;
    if (boot.isEmpty() || ::stat("/proc/self/ns/pid", &pids) != 0)
        return QStringLiteral("_");
    return QString::fromLatin1(boot) + QLatin1Char('.') + QString::number(pids.st_ino);
}

// ".sonetra-staged-<process>-<namespace>-<random>": the process and where its number holds tell
// whether the save that staged it still runs.
QString stagedName()
{
    return stagedPrefix
           + QStringLiteral("%1-%2-%3")
                     .arg(::getpid())
                     .arg(processNamespace())
                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Only a process that is known to have ended counts as not running.
bool processRuns(qint64 process)
{
    if (process <= 0 || process > std::numeric_limits<pid_t>::max() || process == ::getpid())
        return true;
    return ::kill(pid_t(process), 0) == 0 || errno != ESRCH;
}

// Whether the staged file at `path` can no longer belong to a save that runs. Its process's end
// proves it where the number means the same process as here (a kill: the next start removes what
// it left). Anywhere else the number proves nothing, and a lock proves little: locks taken on one
// machine are not seen on another over several network file systems (sshfs and other FUSE
// mounts, SMB mounted without byte-range locks) and an NFS server drops those of a client that
// sleeps, while a lock lasting until the save's renames needs a file of its own beside the
// staged ones. So there it is the file's age: older than any save takes. Files that earlier
// versions named after the host are judged so too.
bool isLeftover(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^(\d{1,10})-(.+)-[0-9a-f]{8}$)"));
    const QString name = QFileInfo(path).fileName();
    const QRegularExpressionMatch match = pattern.match(name.sliced(stagedPrefix.size()));
    if (!match.hasMatch())
        return false;
    const QString here = processNamespace();
    if (here != QLatin1String("_") && match.captured(2) == here)
        return !processRuns(match.captured(1).toLongLong());
    struct stat file;
    return ::lstat(QFile::encodeName(path).constData(), &file) == 0
           && ::time(nullptr) - file.st_mtime > longestSaveSeconds;
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

// Tries fresh staged names in `folder` with `make` until one is not taken yet; the name it made
// stays in `path`. False with errno set when none could be made.
bool makeStagedName(const QString &folder, QString *path,
                    const std::function<bool(const QByteArray &)> &make)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        *path = folder + QLatin1Char('/') + stagedName();
        if (make(QFile::encodeName(*path)))
            return true;
        if (errno != EEXIST)
            break;
    }
    path->clear();
    return false;
}

// The file a staged file is written into, in `folder` and open for writing: one without a name
// where the file system gives such files (O_TMPFILE) and /proc lets this process name it later,
// so that a save cut short while it writes leaves nothing behind (a kill during an export leaves
// nothing on the desktop); else one under a staged name, set in `path`. -1 with errno set when
// none could be made.
int openStagedFile(const QString &folder, QString *path)
{
    static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
    path->clear();
    int fd = canName ? ::open(QFile::encodeName(folder).constData(),
                              O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                     : -1;
    if (fd < 0) {
        makeStagedName(folder, path, [&fd](const QByteArray &name) {
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd >= 0;
        });
    }
    return fd;
}

// Gives the unnamed file open at `fd` a staged name in `folder`, set in `path`.
bool nameStagedFile(int fd, const QString &folder, QString *path)
{
    const QByteArray unnamed = "/proc/self/fd/" + QByteArray::number(fd);
    return makeStagedName(folder, path, [&unnamed](const QByteArray &name) {
        return ::linkat(AT_FDCWD, unnamed.constData(), AT_FDCWD, name.constData(),
                        AT_SYMLINK_FOLLOW)
               == 0;
    });
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Whether the regular file at `path` holds exactly `content`. Opened without waiting, as a FIFO
// another program left there would make a plain open wait.
bool holdsExactly(const QString &path, const QByteArray &content)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    QFile file;
    const bool same = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                      && status.st_size == content.size()
                      && file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)
                      && file.readAll() == content;
    file.close();
    ::close(fd);
    return same;
}

// File systems that cannot exchange two files in one step (FUSE file systems that do not pass
// it on, NFS, FAT) refuse the flag.
bool cannotExchange(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

int renameWith(const QString &from, const QString &to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                       QFile::encodeName(to).constData(), flags);
}

// Writes the whole file through `write`, syncs it, names it (`path`, in `folder`) when it has
// no name yet and closes it: false when any of it failed.
bool writeAndClose(int fd, const std::function<bool(QIODevice &)> &write, const QString &folder,
                   QString *path, QString *error)
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
    if (written && path->isEmpty() && !nameStagedFile(fd, folder, path)) {
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
    const QString folder = QFileInfo(target).path();
    QString staged;
    const int fd = openStagedFile(folder, &staged);
    if (fd < 0) {
        sntWarning(lcStore, "[Store]") << "cannot write" << path << ":" << systemError();
        return false;
    }
    if (replaces)
        ::fchmod(fd, existing.st_mode & 07777);
    QString error;
    if (!writeAndClose(fd, write, folder, &staged, &error)) {
        sntWarning(lcStore, "[Store]") << "writing" << path << "failed:" << error;
        if (!staged.isEmpty())
            QFile::remove(staged);
        return false;
    }
    Staged file;
    file.target = target;
    file.staged = staged;
    files_.push_back(std::move(file));
    return true;
}

bool StagedFiles::stage(const QString &path, const QByteArray &content)
{
    return stage(path, [&content](QIODevice &device) {
        return writeAll(device, content.constData(), content.size());
    });
}

bool StagedFiles::stage(const QString &path, const QByteArray &content, const Target &before)
{
    if (!stage(path, content))
        return false;
    files_.back().before = before;
    files_.back().content = content;
    return true;
}

qsizetype StagedFiles::commit()
{
    targetChanged_ = false;
    std::size_t committed = 0;
    for (; committed < files_.size(); ++committed) {
        const Outcome outcome = putInPlace(files_[committed]);
        if (outcome == Outcome::Placed)
            continue;
        if (outcome == Outcome::TargetChanged) {
            targetChanged_ = true;
            takeBack();
            committed = 0;
        }
        break;
    }
    // What an exchange moved aside is the file it replaced.
    for (std::size_t i = 0; i < committed; ++i) {
        if (files_[i].placed == Placed::Exchanged)
            QFile::remove(files_[i].staged);
    }
    discardFrom(committed);
    files_.clear();
    return qsizetype(committed);
}

StagedFiles::Outcome StagedFiles::putInPlace(Staged &file)
{
    if (file.before)
        return putInPlaceChecked(file);
    if (renameWith(file.staged, file.target, 0) == 0)
        return Outcome::Placed;
    sntWarning(lcStore, "[Store]") << "saving" << file.target << "failed:" << systemError();
    return Outcome::Failed;
}

StagedFiles::Outcome StagedFiles::putInPlaceChecked(Staged &file)
{
    const Target &before = *file.before;
    const unsigned flags = before.exists ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (renameWith(file.staged, file.target, flags) == 0) {
        file.placed = before.exists ? Placed::Exchanged : Placed::Created;
        if (before.exists && !holdsExactly(file.staged, before.content))
            return Outcome::TargetChanged;
        return Outcome::Placed;
    }
    const int error = errno;
    if (error == (before.exists ? ENOENT : EEXIST))
        return Outcome::TargetChanged;
    if (!cannotExchange(error)) {
        sntWarning(lcStore, "[Store]") << "saving" << file.target << "failed:" << systemError();
        return Outcome::Failed;
    }
    // Checked right before the rename: a write in between is not seen.
    const bool holdsBefore = before.exists ? holdsExactly(file.target, before.content)
                                           : !QFileInfo::exists(file.target);
    if (!holdsBefore)
        return Outcome::TargetChanged;
    if (renameWith(file.staged, file.target, 0) != 0) {
        sntWarning(lcStore, "[Store]") << "saving" << file.target << "failed:" << systemError();
        return Outcome::Failed;
    }
    file.placed = before.exists ? Placed::Replaced : Placed::Created;
    return Outcome::Placed;
}

void StagedFiles::takeBack()
{
    for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
        if (!takeBack(*file))
            sntInfo(lcStore, "[Store]")
                    << file->target << "keeps what another program wrote there after this save";
    }
}

bool StagedFiles::takeBack(Staged &file)
{
    const auto failed = [&file] {
        sntWarning(lcStore, "[Store]")
                << "could not give" << file.target << "back what it held:" << systemError();
        return true;
    };
    switch (std::exchange(file.placed, Placed::Not)) {
    case Placed::Not:
        return true;
    case Placed::Exchanged:
        // Exchanged back first and compared after: a write that came in between is in what was
        // moved aside, and goes back in place.
        if (renameWith(file.staged, file.target, RENAME_EXCHANGE) != 0)
            return failed();
        if (holdsExactly(file.staged, file.content))
            return true;
        if (renameWith(file.staged, file.target, RENAME_EXCHANGE) != 0)
            failed();
        return false;
    case Placed::Replaced:
    case Placed::Created:
        // Compared right before it is replaced or removed: a write in between is not seen.
        if (!holdsExactly(file.target, file.content))
            return false;
        if (file.before->exists)
            return saveAtomically(file.target, file.before->content) || failed();
        return QFile::remove(file.target) || failed();
    }
    return true;
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
        if (isLeftover(dir.filePath(name)) && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    if (removed > 0)
        sntInfo(lcStore, "[Store]")
                << "removed" << removed << "staged files that cut-short saves left in" << folder;
}

} // namespace store
