#pragma once

#include <QDebug>
#include <QString>

// Every log line of the program starts with its component tag ("[Measurement]", "AudioInput:",
// "[PhoneAudio]"), so that a field log can be filtered by component. These macros write through
// the Qt message log, so tests can still catch lines with QTest::ignoreMessage.
#define sntDebug(tag) qDebug().noquote() << (tag)
#define sntInfo(tag) qInfo().noquote() << (tag)
#define sntWarning(tag) qWarning().noquote() << (tag)
#define sntCritical(tag) qCritical().noquote() << (tag)

namespace snt::log {

// Installs the program's message handler: one line per message on stderr with time and level,
// mirrored into `mirrorFile` when it is not empty. Safe to call from main only.
void install(const QString &mirrorFile = QString());

// Appends one line to a log file of its own (components that keep their own files in the data
// root's temporary folder). Thread-safe; returns false when the file cannot be written.
bool appendLine(const QString &filePath, const QString &line);

// The line format used by the handler, exposed for the few components that write their own files.
QString formatLine(QtMsgType type, const QString &message);

} // namespace snt::log
