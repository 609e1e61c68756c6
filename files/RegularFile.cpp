#include "files/RegularFile.h"

#include "common/Log.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

FileRead refuse(const QString &path, const char *why, const QString &sentence)
{
    sntWarning(lcStore, "[Store]") << "refused to read" << path << ":" << why;
    return {false, sentence.arg(QFileInfo(path).fileName())};
}

FileRead refuseSpecial(const QString &path)
{
    return refuse(path, "not a regular file",
                  QStringLiteral("「%1」不是普通文件（可能是设备、管道或指向它们的链接），已跳过"));
}

} // namespace

FileRead openRegularFile(QFile &file, const QString &path, qint64 maxBytes)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; for a regular file the flag
    // changes nothing, and it is cleared before the file is handed over all the same.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A socket cannot be opened at all; a missing or forbidden file is no refusal.
        struct stat status;
        if (errno == ENXIO && ::stat(QFile::encodeName(path).constData(), &status) == 0)
            return refuseSpecial(path);
        return {};
    }
    struct stat status;
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular || status.st_size > maxBytes) {
        ::close(fd);
        if (!regular)
            return refuseSpecial(path);
        return refuse(path, "larger than a store file grows",
                      QStringLiteral("「%1」太大，不像本程序的文件，已跳过"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return {true, QString()};
}

FileRead readRegularFile(const QString &path, qint64 maxBytes, QByteArray &content)
{
    content.clear();
    QFile file;
    const FileRead read = openRegularFile(file, path, maxBytes);
    if (read.opened)
        content = file.read(std::min(file.size(), maxBytes));
    return read;
}

} // namespace store
