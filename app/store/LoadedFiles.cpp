#include "app/store/LoadedFiles.h"

#include "app/store/StoreJson.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {

QList<CurvePack> currentPacks(const QJsonObject &file, const QString &project)
{
    QList<CurvePack> packs;
    for (const QJsonValue &value : file.value(QStringLiteral("packs")).toArray()) {
        if (store::isLoadedPack(value))
            packs.append(curvePackFromJson(value.toObject(), project));
    }
    return packs;
}

} // namespace

const LoadedFiles::File &LoadedFiles::file(const QString &path, const QString &project)
{
    // Taken before the read: a change made while reading shows at the next look.
    const QFileInfo info(path);
    const auto kept = files_.constFind(path);
    if (kept != files_.cend() && info.exists() && kept->size == info.size()
        && kept->modified == info.lastModified())
        return kept->file;
    const store::JsonFile json = store::readJsonFile(path);
    File file{json.readable, json.refusal, json.object, currentPacks(json.object, project)};
    file.object.remove(QStringLiteral("packs"));
    if (!file.readable) {
        files_.remove(path);
        unkept_ = std::move(file);
        return unkept_;
    }
    Kept &entry = files_[path];
    entry = {info.size(), info.lastModified(), std::move(file)};
    return entry.file;
}
