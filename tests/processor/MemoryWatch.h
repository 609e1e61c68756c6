#pragma once

#include <QFile>
#include <QRegularExpression>

namespace snt::test {

// How far the memory this process holds rose above where it stood when the watch began, read
// from the kernel (/proc/self/status): the resident size at the start, and the peak resident size
// since then (the watch resets the kernel's peak first, so an earlier peak does not hide a later
// rise).
class MemoryWatch
{
public:
    MemoryWatch()
    {
        QFile peak(QStringLiteral("/proc/self/clear_refs"));
        resetOk_ = peak.open(QIODevice::WriteOnly) && peak.write("5") == 1;
        startKb_ = statusKb("VmRSS");
    }

    // False where the kernel would not reset the peak: the rise would then be unknown.
    bool valid() const { return resetOk_ && startKb_ > 0; }
    qint64 startKb() const { return startKb_; }
    qint64 peakKb() const { return statusKb("VmHWM"); }
    qint64 riseKb() const { return peakKb() - startKb_; }

private:
    static qint64 statusKb(const char *field)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB$").arg(field),
                                      QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }

    bool resetOk_ = false;
    qint64 startKb_ = -1;
};

} // namespace snt::test
