#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Plain file access for the store tests, independent of the store's own writing code.
inline bool putBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A FIFO at `path`: opening it for reading waits until someone opens it for writing.
inline bool putFifo(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// A link at `path` to a device that reads zeros without end. As root, the device is one of the
// sandbox's own, so that code which wrongly wrote through the link could replace nothing of the
// system's; a user gets /dev/zero, which only root can replace.
inline bool putEndlessLink(const QString &path)
{
    QString device = QStringLiteral("/dev/zero");
    if (geteuid() == 0) {
        device = QDir::homePath() + QStringLiteral("/zero-device");
        if (!QFileInfo::exists(device)
            && mknod(QFile::encodeName(device).constData(), S_IFCHR | 0444, makedev(1, 5)) != 0)
            return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFile::link(device, path);
}

inline QList<float> ramp(qsizetype n, float start, float step = 1.0f)
{
    QList<float> values(n);
    for (qsizetype i = 0; i < n; ++i)
        values[i] = start + step * float(i);
    return values;
}

// While it lives, every file this process writes fails beyond `bytes`, as on a full disk: the
// write itself returns an error (the signal is ignored). It holds for every user, root included.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

// While it lives, files in `folder` can be read but not created, replaced, renamed or deleted,
// as on a read-only disk. Permissions do not stop root, so root acts as the user "nobody" for
// the time (and then nothing in the sandbox can be changed); another user loses write
// permission on the folder.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &folder)
        : folder_(folder)
        , permissions_(QFile::permissions(folder))
    {
        if (geteuid() == 0) {
            // "nobody" (still in root's group) must reach and read what the sandbox holds.
            QFile::setPermissions(QDir::homePath(),
                                  QFile::permissions(QDir::homePath()) | QFileDevice::ReadGroup
                                          | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                          | QFileDevice::ExeOther);
            asNobody_ = seteuid(nobody) == 0;
        } else {
            QFile::setPermissions(folder,
                                  permissions_
                                          & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser
                                              | QFileDevice::WriteGroup | QFileDevice::WriteOther));
        }
    }
    ~ReadOnlyFolder()
    {
        if (asNobody_)
            (void)seteuid(0);
        else
            QFile::setPermissions(folder_, permissions_);
    }
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;

private:
    static constexpr uid_t nobody = 65534;
    QString folder_;
    QFileDevice::Permissions permissions_;
    bool asNobody_ = false;
};

// While it lives, the file at `path` cannot be read by this thread (its mode is 000), as a file of
// another user's. Root reads every file whatever its mode, so the thread gives up that power (its
// effective capabilities to pass over file permissions) for the time.
class UnreadableFile
{
public:
    explicit UnreadableFile(const QString &path)
        : path_(path)
        , permissions_(QFile::permissions(path))
    {
        QFile::setPermissions(path, {});
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        reduced_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~UnreadableFile()
    {
        if (reduced_)
            syscall(SYS_capset, &header_, saved_);
        QFile::setPermissions(path_, permissions_);
    }
    UnreadableFile(const UnreadableFile &) = delete;
    UnreadableFile &operator=(const UnreadableFile &) = delete;

private:
    QString path_;
    QFileDevice::Permissions permissions_;
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool reduced_ = false;
};
