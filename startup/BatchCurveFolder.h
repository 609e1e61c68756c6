#pragma once

#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace snt::startup {

// The folder of one batch's curve files: "sonetra-eq-batch-XXXXXX" in the temporary folder, a
// folder of the run's own that no other user can redirect. While the batch runs it holds a lock on
// the folder and keeps a mark in it. A batch killed outright leaves the folder and the mark, but
// its lock ends with it: the next batch removes every such folder of the same user whose lock it
// can take and that carries the mark, never one a running batch holds. A batch that ends removes
// its mark, and its folder when the folder is empty; curve files the bridge could not load stay in
// it for the user to look into.
class BatchCurveFolder
{
public:
    // Removes the folders killed batches left, then makes this batch's own.
    BatchCurveFolder();
    ~BatchCurveFolder();
    BatchCurveFolder(const BatchCurveFolder &) = delete;
    BatchCurveFolder &operator=(const BatchCurveFolder &) = delete;

    bool isValid() const { return lock_ >= 0; }
    QString path() const { return folder_->path(); }
    QString filePath(const QString &name) const { return folder_->filePath(name); }

private:
    static void removeStaleFolders();

    std::optional<QTemporaryDir> folder_;
    int lock_ = -1; // the folder, opened and locked while the batch runs
};

} // namespace snt::startup
