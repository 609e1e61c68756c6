#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QSaveFile;

namespace store {

// Files that are written together, so that either every one of them changes or none does:
// each is written in full to a temporary file beside its target first, and no target is replaced
// before every file was written. A temporary file has no name until it is put in place, so a
// crash leaves nothing behind; until then each holds an open descriptor. Whatever was not put
// in place is discarded when the object goes.
class StagedFiles
{
public:
    StagedFiles();
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes the file for `path` through `write` into a temporary file beside it. False, with a
    // log line, when that failed (an existing file that is read-only counts as a failure).
    bool stage(const QString &path, const std::function<bool(QIODevice &)> &write);
    bool stage(const QString &path, const QByteArray &content);

    // Puts the staged files in place, in the order they were staged, each with one rename over
    // its target. Stops at the first that cannot be, discarding it and those after it (with a
    // log line). Returns how many were put in place.
    qsizetype commit();

private:
    std::vector<std::unique_ptr<QSaveFile>> files_;
};

} // namespace store
