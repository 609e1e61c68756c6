#include "app/store/FileStamp.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>

#include <algorithm>
#include <array>

namespace store {

namespace {

// The local file systems whose kernel driver keeps a status-change time that no program can set
// and reports it as it is (statfs's f_type): ext2 to ext4, XFS, Btrfs, tmpfs, ramfs, F2FS, ZFS,
// JFS, ReiserFS, NILFS, bcachefs and an overlay of them.
bool keepsItsOwnChangeTime(const char *path)
{
    constexpr std::array<unsigned long, 12> trusted{
            0xEF53,     0x58465342, 0x9123683E, 0x01021994, 0x858458F6, 0xF2F52010,
            0x2FC12FC1, 0x3153464A, 0x52654973, 0x3434,     0xCA451A4E, 0x794C7630,
    };
    struct statfs system;
    if (::statfs(path, &system) != 0)
        return false;
    return std::find(trusted.cbegin(), trusted.cend(), static_cast<unsigned long>(system.f_type))
           != trusted.cend();
}

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

FileStamp FileStamp::of(const QString &path)
{
    FileStamp stamp;
    // The clock is read before the look: a change after it is after the look too.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0)
        return stamp;
    stamp.exists_ = true;
    stamp.device_ = status.st_dev;
    stamp.inode_ = status.st_ino;
    stamp.size_ = status.st_size;
    stamp.modifiedNs_ = nanoseconds(status.st_mtim);
    stamp.changedNs_ = nanoseconds(status.st_ctim);
    const qint64 settleNs = (status.st_ctim.tv_nsec != 0 ? fineSettleMs : settleMs) * 1000000;
    stamp.settled_ = nanoseconds(now) - stamp.changedNs_ >= settleNs
                     && keepsItsOwnChangeTime(name.constData());
    return stamp;
}

bool FileStamp::provesUnchanged(const FileStamp &later) const
{
    return exists_ && settled_ && later.exists_ && device_ == later.device_
           && inode_ == later.inode_ && size_ == later.size_ && modifiedNs_ == later.modifiedNs_
           && changedNs_ == later.changedNs_;
}

} // namespace store
