#include "app/store/FileStamp.h"

#include <QFile>

#include <sys/stat.h>
#include <time.h>

namespace store {

namespace {

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
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return stamp;
    stamp.exists_ = true;
    stamp.device_ = status.st_dev;
    stamp.inode_ = status.st_ino;
    stamp.size_ = status.st_size;
    stamp.modifiedNs_ = nanoseconds(status.st_mtim);
    stamp.changedNs_ = nanoseconds(status.st_ctim);
    const qint64 settleNs = (status.st_ctim.tv_nsec != 0 ? fineSettleMs : settleMs) * 1000000;
    stamp.settled_ = nanoseconds(now) - stamp.changedNs_ >= settleNs;
    return stamp;
}

bool FileStamp::provesUnchanged(const FileStamp &later) const
{
    return exists_ && settled_ && later.exists_ && device_ == later.device_
           && inode_ == later.inode_ && size_ == later.size_ && modifiedNs_ == later.modifiedNs_
           && changedNs_ == later.changedNs_;
}

} // namespace store
