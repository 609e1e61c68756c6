#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace store {

// Files that are written together, so that either every one of them changes or none does:
// each is written in full beside its target first, synced and closed, and no target is replaced
// before every file was written. A file made from what its target held is put in place only while
// the target still holds that: another program's write is never replaced unseen, and when one
// shows, the files already put in place go back to what they were, each only while it still holds
// what the save put there. A save holds one open file at a time, however many it writes.
// Each is written into a file without a name where the file system gives such files, so that a
// save cut short while writing leaves nothing, and is named once whole (elsewhere it is named
// from the start). Staged files carry names only this class gives (".sonetra-staged-", the
// process and where its number holds), so that those a save left behind when it was cut short
// (a kill, a power cut) are found and removed (removeStagingLeftovers) and no file of the user's
// is ever taken for one. Whatever was not put in place is removed when the object goes.
class StagedFiles
{
public:
    // What a target held when the content staged for it was made from it.
    struct Target
    {
        bool exists = false;
        QByteArray content;
    };

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
    // Stages `content` for the file at `path`, made from what it held (`before`): it replaces only
    // that.
    bool stage(const QString &path, const QByteArray &content, const Target &before);

    // Puts the staged files in place, in the order they were staged, each with one rename over
    // its target. A target staged with what it held is checked as it is replaced: exchanged with
    // its staged file in one step where the file system can (Linux's RENAME_EXCHANGE), and what
    // was moved aside compared with what it held, else compared right before the rename. Where
    // one holds something else (another program wrote it), the targets already replaced get back
    // what they held, nothing more is put in place, and targetChanged() tells. A target that
    // another program wrote into since it was put in place keeps that write (and so what the
    // save put there): the caller makes its save again on what the files hold then. Otherwise
    // stops at the first that cannot be put in place, removing it and those after it (with a log
    // line). Returns how many were put in place.
    qsizetype commit();

    // Whether the last commit found a target that no longer held what it was staged from.
    bool targetChanged() const { return targetChanged_; }

private:
    // How a staged file was put in place, so that it can be taken back.
    enum class Placed { Not, Exchanged, Replaced, Created };
    enum class Outcome { Placed, TargetChanged, Failed };
    struct Staged
    {
        QString target;
        QString staged;
        std::optional<Target> before;
        QByteArray content; // what a checked target is to hold
        Placed placed = Placed::Not;
    };

    Outcome putInPlace(Staged &file);
    Outcome putInPlaceChecked(Staged &file);
    // Gives the targets put in place back what they held, the last first, where they still hold
    // what the save put there.
    void takeBack();
    // Gives `file` back what it held; false where another program wrote it since (it stays).
    bool takeBack(Staged &file);
    void discardFrom(std::size_t first);

    std::vector<Staged> files_;
    bool targetChanged_ = false;
};

// Removes the staged files that saves cut short left in `folder`: those of processes that ran
// where this one runs (the same machine, container or sandbox) and no longer do, and those of
// any other save once they are older than any save takes (a day). A save that still runs, in a
// container or on another machine sharing the folder too, keeps its files, and so does every
// file this class did not name.
void removeStagingLeftovers(const QString &folder);

} // namespace store
