#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <vector>

namespace store {

// Files that are written together, so that either every one of them changes or none does:
// each is written in full beside its target first, synced and closed, and no target is replaced
// before every file was written. A save holds one open file at a time, however many it writes.
// Each is written into a file without a name where the file system gives such files, so that a
// save cut short while writing leaves nothing, and is named once whole (elsewhere it is named
// from the start). Staged files carry names only this class gives (".sonetra-staged-", the
// process and where its number holds), so that those a save left behind when it was cut short
// (a kill, a power cut) are found and removed (removeStagingLeftovers) and no file of the user's
// is ever taken for one. Whatever was not put in place is removed when the object goes.
class StagedFiles
{
public:
    StagedFiles();
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes the file for `path` through `write` into a staged file beside it (beside the file a
    // link at `path` leads to). False, with a log line, when that failed (a file that is
    // read-only, or a folder, where the file would go counts as a failure). The staged file keeps
    // the permissions of the file it replaces.
    bool stage(const QString &path, const std::function<bool(QIODevice &)> &write);
    bool stage(const QString &path, const QByteArray &content);

    // Puts the staged files in place, in the order they were staged, each with one rename over
    // its target. Stops at the first that cannot be, removing it and those after it (with a log
    // line). Returns how many were put in place.
    qsizetype commit();

private:
    struct Staged
    {
        QString target;
        QString staged;
    };

    void discardFrom(std::size_t first);

    std::vector<Staged> files_;
};

// Removes the staged files that saves cut short left in `folder`: those of processes that ran
// where this one runs (the same machine, container or sandbox) and no longer do, and those of
// any other save once they are older than any save takes (a day). A save that still runs, in a
// container or on another machine sharing the folder too, keeps its files, and so does every
// file this class did not name.
void removeStagingLeftovers(const QString &folder);

} // namespace store
