#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// How every store file is opened for reading. The data folder is the user's, and what lies there
// need not be a file of ours: a link to a device would be read without end, and opening a FIFO
// waits until someone writes into it. Only regular files (or links to them) of a size the store
// can hold are read; anything else is refused with a log line that names it, and the caller
// receives a sentence for the user that names it too.
namespace store {

// What became of a request to read a file.
struct FileRead
{
    bool opened = false;
    // Set when the file is there but was not read: a sentence for the user that names it.
    QString refusal;
};

// Opens `path` for reading when it is a regular file of at most `maxBytes`. A missing file, or
// one the user may not read, is neither opened nor refused.
FileRead openRegularFile(QFile &file, const QString &path, qint64 maxBytes);

// Reads the whole of a regular file of at most `maxBytes` into `content` (empty otherwise), as
// openRegularFile() decides.
FileRead readRegularFile(const QString &path, qint64 maxBytes, QByteArray &content);

} // namespace store
