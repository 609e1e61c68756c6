#include "app/store/StoreJson.h"

#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/RegularFile.h"
#include "files/StoreFile.h"

#include <QJsonDocument>

namespace store {

namespace {

const QString kJsonSuffix = QStringLiteral(".json");
// Far above any store file a sound engineer keeps (a pack takes a few kilobytes), far below what
// parsing would need too much memory for.
constexpr qint64 kMaxStoreFileBytes = qint64(64) << 20;

} // namespace

JsonFile readJsonFile(const QString &path)
{
    JsonFile result;
    const FileRead read = readRegularFile(path, kMaxStoreFileBytes, result.content);
    result.refusal = read.refusal;
    if (!read.opened)
        return result;
    result.readable = true;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.content, &error);
    result.object = document.object();
    result.damaged = !result.content.trimmed().isEmpty()
                     && (error.error != QJsonParseError::NoError || !document.isObject());
    if (result.damaged)
        sntWarning(lcStore, "[Store]") << "unreadable store file" << path << "reads as empty";
    return result;
}

QFileInfoList projectFiles(QDir::SortFlags sort)
{
    // Devices, FIFOs and links to them are listed too: reading refuses them with a message,
    // where left out of the list they would be passed over unseen.
    return QDir(projectsDir())
            .entryInfoList({QStringLiteral("*.json")},
                           QDir::Files | QDir::System | QDir::CaseSensitive, sort);
}

QString projectOfFile(const QFileInfo &file)
{
    return file.fileName().chopped(kJsonSuffix.size());
}

int countSum(const QJsonArray &packs)
{
    int sum = 0;
    for (const QJsonValue &pack : packs)
        sum += pack.toObject().value(QStringLiteral("count")).toInt(2);
    return sum;
}

QByteArray toJsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool replaceStoreFile(const QString &path, const JsonFile &earlier, const QByteArray &content)
{
    if (!earlier.refusal.isEmpty()) {
        sntWarning(lcStore, "[Store]") << "not writing over" << path << ": not a store file";
        return false;
    }
    if (earlier.damaged && !keepCorruptCopy(path, earlier.content))
        return false;
    return saveAtomically(path, content);
}

} // namespace store
