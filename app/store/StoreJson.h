#pragma once

#include "app/store/CurvePack.h"
#include "app/store/FileStamp.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfoList>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// How the store reads and writes its JSON files: shared by the pack list's saves and the
// project store's other operations.
namespace store {

struct FileRead;

// One store file as found on disk. `damaged` marks content that holds something but is not a
// JSON object (cut short, say, or holding a NaN), or one with a key twice in an object, of which
// the parser keeps only the last: it reads as empty, and no save writes over it,
// as it may be another program's write in progress and holds what cannot be read. `refusal`
// is set (a sentence for the user) when something other than a store file lies at the path; it
// is neither read nor written over. `droppedPacks` are the entries of its "packs" the store does
// not load (packs of an older schema or without a name, entries that are no packs at all, or a
// "packs" that is no array as one entry), which a rewrite leaves out and so keeps aside first.
struct JsonFile
{
    bool readable = false;
    bool damaged = false;
    QByteArray content;
    QJsonObject object;
    QString refusal;
    QJsonArray droppedPacks;
};

// The largest store file that is read: far above what a sound engineer keeps (a pack takes a few
// kilobytes, so some 20,000 packs fill it), far below what parsing would need too much memory
// for. Nothing larger is written, so that every file written is read again.
constexpr qint64 maxStoreFileBytes = qint64(64) << 20;

// Whether `content` holds nothing but white space (an empty file, say). Looks no further than
// the first other character, where trimming would copy a file of megabytes.
bool isBlank(const QByteArray &content);

// The store file at `path` from what reading it gave: `content`, when `read` opened it.
JsonFile parsedJsonFile(const QString &path, const FileRead &read, QByteArray content);

// The file at `path` read again, unless it is what was read before: nothing when the look at it
// (`stamp`, of the read that gave `earlier`) proves it unchanged, or when it still holds
// `earlier`. `stamp` then becomes the look taken now. Without `earlier` (no readable file was
// read) the file is always read.
std::optional<JsonFile> readJsonFileAgain(const QString &path, FileStamp &stamp,
                                          const QByteArray *earlier);

// Whether the loader takes an entry of a file's "packs": pack objects of schema 3 or later that
// have a name.
bool isLoadedPack(const QJsonValue &pack);

// The entries of a file's "packs" that the loader takes, in their order.
QJsonArray loadedPacks(const QJsonObject &file);

// Tells the user something about the store's files: a sentence. Called on whichever thread
// reads or writes them.
using TellUser = std::function<void(const QString &)>;

// The project files: every entry but folders with an exact ".json" ending.
QFileInfoList projectFiles(QDir::SortFlags sort);
QString projectOfFile(const QFileInfo &file);

// The sum of the packs' "count" values (2 where one has none).
int countSum(const QJsonArray &packs);

// The text of a store file: indented JSON, or compact JSON where the indented text would be
// larger than a store file that is read (a file another program wrote compactly, say): the
// indentation must not be what keeps a file from being written, or written and read back.
QByteArray toJsonText(const QJsonObject &object);

// Whether the file found as `earlier` may be written over with `content`: not when the store
// refused to read it (something other than a store file lies there), nor with more than it
// reads (the user is told). Refusals are logged.
bool mayReplace(const QString &path, const JsonFile &earlier, const QByteArray &content,
                const TellUser &tellUser);

// Keeps aside what a rewrite of the file found as `earlier` would drop: the packs it held that
// the store does not load (the user is told of them), so that an old pack never turns into a
// loss. False when that failed.
bool keepAside(const QString &path, const JsonFile &earlier, const TellUser &tellUser);

} // namespace store
