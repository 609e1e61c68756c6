#include "files/StagedFiles.h"

#include "common/Log.h"
#include "files/StoreFile.h"

#include <QSaveFile>

namespace store {

StagedFiles::StagedFiles() = default;

StagedFiles::~StagedFiles() = default;

bool StagedFiles::stage(const QString &path, const std::function<bool(QIODevice &)> &write)
{
    auto file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        sntWarning(lcStore, "[Store]") << "cannot write" << path << ":" << file->errorString();
        return false;
    }
    // Flushed here and checked: a flush that fails inside commit() leaves a truncated file that
    // commit() still puts in place and reports as saved.
    if (!write(*file) || !file->flush() || file->error() != QFileDevice::NoError) {
        sntWarning(lcStore, "[Store]") << "writing" << path << "failed:" << file->errorString();
        file->cancelWriting();
        return false;
    }
    files_.push_back(std::move(file));
    return true;
}

bool StagedFiles::stage(const QString &path, const QByteArray &content)
{
    return stage(path, [&content](QIODevice &device) {
        return writeAll(device, content.constData(), content.size());
    });
}

qsizetype StagedFiles::commit()
{
    qsizetype committed = 0;
    for (const std::unique_ptr<QSaveFile> &file : files_) {
        if (!file->commit()) {
            sntWarning(lcStore, "[Store]")
                    << "saving" << file->fileName() << "failed:" << file->errorString();
            break;
        }
        ++committed;
    }
    files_.clear();
    return committed;
}

} // namespace store
