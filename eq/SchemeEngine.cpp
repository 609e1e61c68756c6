#include "eq/SchemeEngine.h"

#include "eq/CurvePreparation.h"
#include "eq/LadderSearch.h"
#include "eq/OctaveSmoothing.h"
#include "eq/SchemeLane.h"
#include "eq/TargetPresets.h"
#include "eq/Trace.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace snt::eq {

namespace {

// Lane order of the presets: flat, main LF +2, outdoor HF +3, DJ/EDM, fill, monitor.
constexpr int presetLaneOrder[] = {0, 1, 3, 2, 4, 5};
constexpr double lineArrayLifts[] = {3.0, 4.5};

QList<Target> lineArrayTargets()
{
    QList<Target> targets;
    for (const double lift : lineArrayLifts) {
        const QString value = QString::number(lift, 'f', 1);
        Target t;
        t.slug = QStringLiteral("la-%1").arg(value);
        t.title = QStringLiteral("低频 +%1 dB").arg(value);
        t.freq = {20.0f, 100.0f, 1000.0f, 24000.0f};
        t.db = {float(lift), float(lift), 0.0f, 0.0f};
        targets.append(t);
    }
    return targets;
}

void writeTraceFile()
{
    const QStringList lines = sharedTrace();
    if (lines.isEmpty())
        return;
    QFile file(qEnvironmentVariable("SNT_EQ_TRACE"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

} // namespace

Measured ascendingFinite(const Measured &measured)
{
    const qsizetype n = std::min(measured.freq.size(), measured.magnitude.size());
    const bool withCoherence = measured.coherence.size() == measured.freq.size();
    const bool withPhase
            = !measured.phase.isEmpty() && measured.phase.size() == measured.freq.size();

    std::vector<qsizetype> order;
    order.reserve(size_t(std::max<qsizetype>(n, 0)));
    for (qsizetype i = 0; i < n; ++i) {
        if (std::isfinite(measured.freq[i]) && std::isfinite(measured.magnitude[i]))
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return measured.freq[a] < measured.freq[b]; });

    Measured result = measured;
    result.freq.clear();
    result.magnitude.clear();
    result.coherence.clear();
    result.phase.clear();
    for (const qsizetype i : order) {
        result.freq.append(measured.freq[i]);
        result.magnitude.append(measured.magnitude[i]);
        if (withCoherence)
            result.coherence.append(std::isfinite(measured.coherence[i]) ? measured.coherence[i]
                                                                         : 0.0f);
        if (withPhase)
            result.phase.append(std::isfinite(measured.phase[i]) ? measured.phase[i] : 0.0f);
    }
    return result;
}

LaneContext prepareLaneContext(const Measured &measured, const Options &options)
{
    LaneContext context;
    context.options = options;
    context.grid = standardGrid();
    context.curve = ascendingFinite(measured);
    const Measured &curve = context.curve;

    const QList<float> db = toDb(curve.magnitude);
    // A given level that is no number would turn every curve into NaN: estimate it instead.
    context.level = curve.hasLevel && std::isfinite(curve.level)
                            ? curve.level
                            : estimateBaseLevel(curve.freq, db, curve.coherence, options.lineArray);
    context.relativeDb.reserve(db.size());
    for (const float v : db)
        context.relativeDb.append(std::max(-60.0f, v - context.level));
    context.measuredRaw = resampleToGrid(curve.freq, context.relativeDb, context.grid);
    context.measured = smoothToGrid(curve.freq, context.relativeDb, context.grid, 6);
    context.phase = measuredPhaseOnGrid(curve.freq, curve.phase, curve.delayMs, context.grid);
    if (context.phase.isEmpty())
        context.phase = slopePhase(context.grid, context.measured);
    // Without two usable points there is no curve at all; fitting the -100 dB stand-in of an
    // unusable curve would present boosts computed from nothing as a valid scheme.
    context.diagnosis = curve.freq.size() < 2
                                ? usableRangeTooNarrow()
                                : diagnoseCurve(curve.freq, context.relativeDb, curve.coherence);
    context.targets = options.lineArray ? lineArrayTargets() : targetPresets();
    context.responses = std::make_shared<LadderResponseCache>(context.grid);
    return context;
}

QList<int> laneTargetIndices(const LaneContext &context)
{
    QList<int> lanes;
    if (context.options.lineArray) {
        for (qsizetype i = 0; i < context.targets.size(); ++i)
            lanes.append(int(i));
        return lanes;
    }
    for (const int index : presetLaneOrder) {
        if (index < context.targets.size())
            lanes.append(index);
    }
    return lanes;
}

QList<Scheme> computeSchemes(const Measured &measured, const Options &options, QString *log,
                             const std::function<void(int done, int total)> &progress)
{
    QElapsedTimer timer;
    timer.start();
    const auto context = std::make_shared<const LaneContext>(prepareLaneContext(measured, options));
    const QList<int> targetOfLane = laneTargetIndices(*context);

    const int lanes = int(targetOfLane.size());
    std::vector<LaneResult> laneResults(static_cast<size_t>(lanes));
    QMutex progressMutex;
    int finished = 0;
    const auto laneFinished = [&] {
        QMutexLocker lock(&progressMutex);
        ++finished;
        if (progress)
            progress(finished, lanes);
    };

    std::vector<std::unique_ptr<QThread>> threads;
    threads.reserve(size_t(lanes));
    for (int lane = 0; lane < lanes; ++lane) {
        const int targetIndex = targetOfLane[lane];
        threads.emplace_back(
                QThread::create([context, lane, targetIndex, &laneResults, &laneFinished] {
                    laneResults[size_t(lane)] = computeOne(*context, targetIndex);
                    publishLaneTrace();
                    laneFinished();
                }));
    }
    if (progress)
        progress(0, lanes);
    for (const auto &thread : threads)
        thread->start(QThread::InheritPriority);
    for (const auto &thread : threads)
        thread->wait();
    threads.clear();

    QList<Scheme> schemes;
    for (LaneResult &result : laneResults) {
        if (result.scheme.name.isEmpty())
            continue;
        if (log)
            log->append(result.log);
        schemes.append(std::move(result.scheme));
    }
    if (log)
        log->append(QStringLiteral("并行 %1 路 · 用时 %2 ms\n").arg(lanes).arg(timer.elapsed()));
    if (traceEnabled())
        writeTraceFile();
    return schemes;
}

} // namespace snt::eq
