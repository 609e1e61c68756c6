#include "app/store/LoadedFiles.h"

#include "app/store/StoreJson.h"

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
    const auto kept = files_.find(path);
    Kept entry;
    if (kept != files_.end())
        entry.stamp = kept->stamp;
    std::optional<store::JsonFile> json = store::readJsonFileAgain(
            path, entry.stamp, kept != files_.end() ? &kept->content : nullptr);
    if (!json) {
        kept->stamp = entry.stamp;
        return kept->file;
    }
    File file{json->readable, json->refusal, json->object, currentPacks(json->object, project)};
    file.object.remove(QStringLiteral("packs"));
    if (!file.readable) {
        files_.remove(path);
        unkept_ = std::move(file);
        return unkept_;
    }
    entry.content = std::move(json->content);
    entry.file = std::move(file);
    Kept &stored = files_[path];
    stored = std::move(entry);
    return stored.file;
}
