#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <csignal>
#include <sys/resource.h>

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
