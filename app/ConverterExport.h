#pragma once

#include "processor/ProcessorEqList.h"

#include <QString>
#include <QVariantMap>

#include <functional>

// Hands the current EQ to the converter program "eq_export.exe" beside the workbench, which
// puts it into the form of another processor's control software ("xta": filter text on the
// clipboard; "nst": a preset file on the desktop), and turns the converter's one-line JSON
// answer into the result map the processor panel shows. The converter runs in a process group
// of its own; the GUI thread waits for it in a local event loop that still serves timers,
// sockets and painting but holds back user input, at most 20 s, after which the whole group is
// killed and reaped. A call arriving while one waits is refused.
class ConverterExport
{
public:
    // Fills the processor list with `verb` ("导出" or "生成") in its refusal texts; false with
    // `error` set when there is nothing to export.
    using Collect = std::function<bool(const QString &verb, ProcessorEqList &list, QString &error)>;

    static constexpr int startTimeoutMs = 3000;
    static constexpr int answerTimeoutMs = 20000;

    // `folder`: where the converter lies; empty for the program's own folder.
    explicit ConverterExport(const QString &folder = QString())
        : folder_(folder)
    { }

    void setConverterFolder(const QString &folder) { folder_ = folder; }
    bool busy() const { return busy_; }

    // {"ok", "message"} and, after the converter was started, "quiet" on failure; on success
    // also "warning" (empty unless bands were cut), "supported", "removed", "total", "path".
    QVariantMap exportEq(const QString &target, const QString &desktop, const Collect &collect);

private:
    QString converterPath() const;

    QString folder_;
    bool busy_ = false;
};
