#pragma once

#include "app/store/CurvePack.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfoList>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// How the store reads and writes its JSON files: shared by the pack list's saves and the
// project store's other operations.
namespace store {

// One store file as found on disk. `damaged` marks content that holds something but is not a
// JSON object: it reads as empty, and must be kept aside before it is written over. `refusal`
// is set (a sentence for the user) when something other than a store file lies at the path; it
// is neither read nor written over.
struct JsonFile
{
    bool readable = false;
    bool damaged = false;
    QByteArray content;
    QJsonObject object;
    QString refusal;
};

JsonFile readJsonFile(const QString &path);

// Tells the user something about the store's files: a sentence. Called on whichever thread
// reads or writes them.
using TellUser = std::function<void(const QString &)>;

// The project files: every entry but folders with an exact ".json" ending.
QFileInfoList projectFiles(QDir::SortFlags sort);
QString projectOfFile(const QFileInfo &file);

// The sum of the packs' "count" values (2 where one has none).
int countSum(const QJsonArray &packs);

// The text of a store file: indented JSON.
QByteArray toJsonText(const QJsonObject &object);

// Writes a store file over an existing one, keeping a damaged earlier content aside first so
// that one bad byte never turns into the loss of every pack the file held. False, writing
// nothing, when that fails or `earlier` was refused.
bool replaceStoreFile(const QString &path, const JsonFile &earlier, const QByteArray &content);

} // namespace store
