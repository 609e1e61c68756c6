#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/inotify.h>
#include <unistd.h>

// Counts the writes of a file from the kernel's notifications: a settings file is replaced whole,
// so its name appears anew, linked or renamed into place, once per write. (Opening it for reading
// and writing, as a settings object does to lock it, is no write.)
class WriteCounter
{
public:
    explicit WriteCounter(const QString &path)
        : name_(QFile::encodeName(QFileInfo(path).fileName()))
        , fd_(inotify_init1(IN_NONBLOCK))
    {
        const QString folder = QFileInfo(path).path();
        QDir().mkpath(folder);
        inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO);
    }
    ~WriteCounter() { ::close(fd_); }

    int count()
    {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (const char *p = buffer; p < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(p);
                if (event->len && name_ == event->name)
                    ++count_;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count_;
    }

private:
    QByteArray name_;
    int fd_;
    int count_ = 0;
};
