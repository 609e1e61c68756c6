#pragma once

#include "startup/BridgeCalls.h"
#include "startup/TerminationRequest.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

namespace snt::startup {

// The headless EQ batch: feeds the curves of a JSON file, one after another, through the
// bridge's normal path (load a curve file, start the EQ computation, read the schemes the user
// interface would show) and writes every curve's schemes and EQ bands to a JSON result file.
// It runs on the GUI thread before the program's event loop exists, so it runs a local one while
// a computation runs on its worker threads. A computation that outlives the time-out, or one the
// bridge did not start, leaves its curve with no schemes (and a log line); the next curve waits
// until no computation runs, so no curve is ever given another's schemes.
//
// Input: {"curves": [{"name", "path" (optional), "curve": [[Hz, dB], ...],
// "coh" (optional): [[Hz, 0..1], ...]}, ...]}. Result: an array with one object per loaded curve,
// saved after every curve (a complete copy renamed over the old file: BatchResultFile), so an
// interrupted batch leaves the valid results of the curves finished so far. SIGTERM, SIGINT or
// SIGHUP stop the batch at its next check (within one event slice while a curve computes): the
// files are put in order, the curve that was computing is left out, and the program ends by the
// signal.
class EqBatch
{
public:
    struct Settings
    {
        QString input;
        QString output;
        int chosenScheme = 0; // the scheme whose curves the detail block holds
        int timeoutMs = 30000; // the longest wait for one computation
    };

    // Exit codes beside 0: the input cannot be read, or the bridge lacks an operation the batch
    // needs (checked first, so a missing one is never reported as a finished batch).
    static constexpr int cannotOpenInput = 2;
    static constexpr int bridgeIncomplete = 3;

    EqBatch(QObject *bridge, Settings settings);

    // Runs the whole batch and returns the program's exit code.
    int run();

private:
    bool bridgeComplete() const;
    // Runs the curves into the result file; the number of results written.
    qsizetype runCurves(const QJsonArray &curves);
    QVariantMap runCurve(const QJsonObject &curve, const QString &curveFile);
    void readSchemes(QVariantMap &result);
    bool waitWhileComputing(qint64 limitMs) const;
    bool computing() const;

    BridgeCalls bridge_;
    Settings settings_;
    TerminationRequest termination_;
};

// The curve text the bridge loads for one input curve: a header line, then per point of "curve"
// with at least two entries the frequency, the level, phase 0 and the coherence ("coh" at the same
// position, else 1), separated by tabs, numbers in the shortest form with 6 significant digits.
QByteArray batchCurveText(const QJsonObject &curve);

} // namespace snt::startup
