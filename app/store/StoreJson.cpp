#include "app/store/StoreJson.h"

#include "app/store/DataFolder.h"
#include "app/store/StoreFile.h"
#include "common/Log.h"

#include <QFile>
#include <QJsonDocument>

namespace store {

namespace {

const QString kJsonSuffix = QStringLiteral(".json");

} // namespace

JsonFile readJsonFile(const QString &path)
{
    JsonFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.readable = true;
    result.content = file.readAll();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.content, &error);
    result.object = document.object();
    result.damaged = !result.content.trimmed().isEmpty()
                     && (error.error != QJsonParseError::NoError || !document.isObject());
    if (result.damaged)
        sntWarning("[Store]") << "unreadable store file" << path << "reads as empty";
    return result;
}

QFileInfoList projectFiles(QDir::SortFlags sort)
{
    return QDir(projectsDir())
            .entryInfoList({QStringLiteral("*.json")}, QDir::Files | QDir::CaseSensitive, sort);
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
    if (earlier.damaged && !keepCorruptCopy(path, earlier.content))
        return false;
    return saveAtomically(path, content);
}

} // namespace store
