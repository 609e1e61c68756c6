#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QRegularExpression>
#include <QString>

#include <functional>

// How every store file reaches the disk: written in full to a temporary file next to the target
// and renamed over it only when every write succeeded, so a full disk or a crash never leaves a
// cut or empty file where the user's data was. Files that must change together go through
// StagedFiles, which renames none of them before all were written.
namespace store {

// Runs `write` on a fresh temporary file and replaces `path` with it when `write` returns true
// and nothing failed. On failure the old file at `path` is untouched and false is returned. An
// existing file that is read-only is left as it is (false).
bool saveAtomically(const QString &path, const std::function<bool(QIODevice &)> &write);

bool saveAtomically(const QString &path, const QByteArray &content);

// Writes a file of an export outside the data folder (to the desktop, say) as saveAtomically
// does, first removing what exports cut short left in its folder: no start looks there.
bool saveExport(const QString &path, const QByteArray &content);

// Writes `size` bytes, true only when all of them were accepted.
bool writeAll(QIODevice &device, const char *data, qint64 size);

// True for a name that can only mean a file directly inside its folder: not empty, no path
// separator, not "." or "..". Names read from files users copy between machines go through it
// before they are joined to a folder.
bool isPlainFileName(const QString &name);

// The characters Windows forbids in file names: \ / : * ? " < > |. Names users type for their
// files are checked against it, so a project or an export names the same file everywhere.
const QRegularExpression &forbiddenNameCharacters();

// Keeps `content`, something the file at `path` held that the store is about to write over, in
// a copy beside it, "<path>.<kind>-<yyyyMMddHHmmss>" (kind "old-packs" for packs it drops, say).
// Content already kept in a copy of that kind is not copied again. Returns the copy's path, or
// empty when no copy could be made.
QString keepCopyBeside(const QString &path, const QString &kind, const QByteArray &content);

// The local path of a "file:" URL (as the file dialogs hand them over), else the text itself.
QString localFilePath(const QString &pathOrUrl);

} // namespace store
