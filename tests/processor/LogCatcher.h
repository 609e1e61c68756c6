#pragma once

#include <QStringList>
#include <QtGlobal>

namespace snt::test {

// Keeps the text of every log line written while it lives (and passes each on as before), so a
// test can wait for a line that a later event writes.
class LogCatcher
{
public:
    LogCatcher() { previous_ = qInstallMessageHandler(&LogCatcher::keep); }
    ~LogCatcher()
    {
        qInstallMessageHandler(previous_);
        lines().clear();
    }

    bool contains(const QString &start) const
    {
        for (const QString &line : lines()) {
            if (line.startsWith(start))
                return true;
        }
        return false;
    }

private:
    static QStringList &lines()
    {
        static QStringList kept;
        return kept;
    }
    static void keep(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        lines().append(text);
        previous_(type, context, text);
    }

    static inline QtMessageHandler previous_ = nullptr;
};

} // namespace snt::test
