#pragma once

#include <QString>
#include <QVariantList>

#include <functional>

// The calibration files kept in the data folder, "<root>/校准": imported microphone files go into
// its sub-folder "测量麦", imported second files into "手雷"; files directly in the folder whose
// names begin with "测量麦_" or "手雷_" count as well. Small text files, read and written whole.
class CalibrationFolder
{
public:
    enum Kind { Microphone = 0, Second = 1 };

    // "<root>/校准".
    static QString path();

    // The choices of a calibration picker for `kind`: first "未选择" (value ""), then the files
    // of that kind, one per file name (compared without case, the copy in the kind's sub-folder
    // or the `current` one preferred), then "导入校准文件…" (value "__import__"). Each entry is a
    // map {"value": path, "label", "short"}; `current` is listed even when it lies elsewhere, and
    // marked "（文件不存在）" when it is gone. Any other kind lists no files.
    static QVariantList pickerEntries(int kind, const QString &current);

    // Copies `source` into the sub-folder of the slot's kind (0 microphone, any other the second
    // file) and returns the path to store: the copy, or `source` when no copy could be made. A
    // copy of identical content already there is reused. Another file of the same name replaces
    // the earlier copy only when `usedElsewhere` says no other slot names that copy; otherwise it
    // goes in beside it as "<name> (2).<suffix>", "(3)", …. A copy is written to a temporary
    // file and renamed into place only when complete, so a failed import loses nothing.
    static QString import(int slot, const QString &source,
                          const std::function<bool(const QString &copy)> &usedElsewhere);
};
