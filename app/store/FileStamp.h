#pragma once

#include <QString>
#include <QtGlobal>

namespace store {

// What the file system tells of a file at one look, so that a later look can tell, without
// reading the file, that it has not changed since. Its size and modification time alone do not
// tell: a copy that keeps both (cp -p, rsync -t, touch -r, a restored backup, a sync client) looks
// the same. A stamp also holds the file's identity (device and inode, which differ when another
// file took its place, as in a folder swapped for another) and its status-change time, which
// every change of the file moves to the time of that change and which no program can set back.
// That time moves in steps, though (milliseconds, or seconds on some file systems), so a change
// made in the same step as the look would go unseen: a stamp taken soon after the file last
// changed proves nothing, and the file must be read again to know. Nor does a stamp prove anything
// on a file system that does not keep a status-change time of its own or may show stale ones:
// FAT and exFAT have none (their drivers report the modification time), SFTP carries none, and
// FUSE and network file systems cache what they report for a while. Only the local file systems
// of Linux that keep one are trusted.
class FileStamp
{
public:
    // How long after a file's last change a look at it proves that no later change went unseen.
    // A file system whose time stamps hold fractions of a second moves them at least every
    // kernel tick (10 ms at most); a tenth of a second also covers a file server whose clock
    // differs a little from this machine's. One with whole seconds may step by two (FAT): three.
    static constexpr qint64 fineSettleMs = 100;
    static constexpr qint64 settleMs = 3000;

    // The file at `path` as it stands now (following links).
    static FileStamp of(const QString &path);

    bool exists() const { return exists_; }
    // Whether the look was taken long enough after the file's last change (see settleMs), on a
    // file system whose stamps can prove anything.
    bool settled() const { return settled_; }

    // True when the file, found as `later`, cannot have changed since this look.
    bool provesUnchanged(const FileStamp &later) const;

private:
    bool exists_ = false;
    bool settled_ = false;
    quint64 device_ = 0;
    quint64 inode_ = 0;
    qint64 size_ = -1;
    qint64 modifiedNs_ = 0;
    qint64 changedNs_ = 0;
};

} // namespace store
