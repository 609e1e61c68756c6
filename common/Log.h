#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// Every log line of the program starts with its component tag ("[Measurement]", "AudioInput:",
// "[PhoneAudio]"), so that a field log can be filtered by component, and belongs to the logging
// category of its area, so that QT_LOGGING_RULES opens or silences an area without touching the
// others ("snt.store.warning=false", "snt.wasapi.debug=true"). The category never shows in the
// line: the program's handler writes the tag and the text as they are. These macros write
// through the Qt message log, so tests can still catch lines with QTest::ignoreMessage.
#define sntDebug(category, tag) qCDebug(category).noquote() << (tag)
#define sntInfo(category, tag) qCInfo(category).noquote() << (tag)
#define sntWarning(category, tag) qCWarning(category).noquote() << (tag)
#define sntCritical(category, tag) qCCritical(category).noquote() << (tag)

// The areas, each with the tags its lines carry. The sound layers (ALSA, JACK and the WASAPI and
// ASIO backends over them) report every failed driver call and every library complaint, which is
// noise unless a sound problem is being chased: their debug lines are off unless a rule turns
// them on.
// "snt.alsa": [ALSA], and the ALSA layer's [SystemCheck] notes.
Q_DECLARE_LOGGING_CATEGORY(lcAlsa)
// "snt.jack": [JACK].
Q_DECLARE_LOGGING_CATEGORY(lcJack)
// "snt.wasapi": [WASAPI] and the step labels of failed calls.
Q_DECLARE_LOGGING_CATEGORY(lcWasapi)
// "snt.asio": [ASIO], "ASIO:" and the step labels of failed calls.
Q_DECLARE_LOGGING_CATEGORY(lcAsio)
// "snt.audio": AudioInput:.
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
// "snt.phone": [PhoneAudio].
Q_DECLARE_LOGGING_CATEGORY(lcPhone)
// "snt.aes67": [PtpClock], [RouteController], [RtspSession], [Mdns].
Q_DECLARE_LOGGING_CATEGORY(lcAes67)
// "snt.generator": [Generator].
Q_DECLARE_LOGGING_CATEGORY(lcGenerator)
// "snt.measurement": [Measurement], [TFBlock].
Q_DECLARE_LOGGING_CATEGORY(lcMeasurement)
// "snt.calibration": [CalibrationManager], [CalFileParser].
Q_DECLARE_LOGGING_CATEGORY(lcCalibration)
// "snt.store": [Store].
Q_DECLARE_LOGGING_CATEGORY(lcStore)
// "snt.app": [AppCore].
Q_DECLARE_LOGGING_CATEGORY(lcApp)
// "snt.systemcheck": [SystemCheck].
Q_DECLARE_LOGGING_CATEGORY(lcSystemCheck)
// "snt.update": [Update].
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
// "snt.export": [EqExport].
Q_DECLARE_LOGGING_CATEGORY(lcExport)
// "snt.processor": [ProcessorClient].
Q_DECLARE_LOGGING_CATEGORY(lcProcessor)
// "snt.startup": [Startup], [EqBatch], EQBATCH, CURVE.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)
// "snt.selftest": [SelfTest] and the scripted runs' verdict lines.
Q_DECLARE_LOGGING_CATEGORY(lcSelfTest)

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
