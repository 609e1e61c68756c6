#include "app/store/LoadedFiles.h"

#include "app/store/StoreJson.h"

#include <QJsonArray>

namespace {

QList<CurvePack> currentPacks(const QJsonObject &file, const QString &project)
{
    QList<CurvePack> packs;
    for (const QJsonValue &value : store::loadedPacks(file))
        packs.append(curvePackFromJson(value.toObject(), project));
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
            path, entry.stamp, kept != files_.end() ? &kept->file.content : nullptr);
    if (!json) {
        kept->stamp = entry.stamp;
        return kept->file;
    }
    File file{json->readable,
              json->refusal,
              std::move(json->content),
              json->damaged,
              !json->droppedPacks.isEmpty(),
              json->object,
              currentPacks(json->object, project)};
    file.object.remove(QStringLiteral("packs"));
    if (!file.readable) {
        files_.remove(path);
        unkept_ = std::move(file);
        return unkept_;
    }
    entry.file = std::move(file);
    Kept &stored = files_[path];
    stored = std::move(entry);
    return stored.file;
}
