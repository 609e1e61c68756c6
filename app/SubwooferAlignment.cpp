#include "app/SubwooferAlignment.h"

#include "app/store/CaptureFiles.h"
#include "app/store/ProjectStore.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"
#include "eq/SubAlignment.h"

#include <QDateTime>
#include <QJsonObject>

namespace {

const QStringList packCurveLabels{QStringLiteral("全频"), QStringLiteral("超低"),
                                  QStringLiteral("耦合")};

// A capture into one of a pack's two capture slots; the level as measured when there is one per
// point, else the smoothed one (dB either way).
void storeCapture(const SubwooferCurve &curve, int &points, QList<float> &freq, QList<float> &level,
                  QList<float> &phase, QList<float> &coherence)
{
    points = int(curve.freq.size());
    freq = curve.freq;
    level = curve.rawDb.size() == curve.freq.size() ? curve.rawDb : curve.db;
    phase = curve.phase;
    coherence = curve.coherence;
}

qsizetype packIndex(const ProjectStore &store, const QString &name)
{
    if (name.isEmpty())
        return -1;
    for (qsizetype i = 0; i < store.curvePacks.size(); ++i) {
        if (store.curvePacks[i].name == name)
            return i;
    }
    return -1;
}

} // namespace

void SubwooferAlignment::reset()
{
    const QString keptName = lastPackName;
    *this = SubwooferAlignment();
    lastPackName = keptName;
}

bool SubwooferAlignment::takeCapture(int target, const QList<float> &freq,
                                     const QList<float> &magnitude, const QList<float> &coherence,
                                     const QList<float> &phase, double delayEstimateMs)
{
    if (freq.size() < leastCapturePoints || phase.size() != freq.size())
        return false;
    SubwooferCurve &curve = target == MainCapture ? main : sub;
    curve.takeCapture(freq, magnitude, coherence, phase);
    snt::eq::unwrapDegrees(curve.phase);
    curve.resmooth();
    if (target == MainCapture) {
        mainDelayMs = delayEstimateMs;
        stage = MeasureSub;
    } else {
        subDelayMs = delayEstimateMs;
        stage = Done;
        aligned = false;
        delayMs = 0.0;
        invert = false;
    }
    return true;
}

void SubwooferAlignment::align(snt::eq::CrossoverResult &design)
{
    if (design.ok)
        snt::eq::alignSubToMain(design, main.freq, main.db, main.phase, main.coherence, sub.freq,
                                sub.phase, sub.coherence);
    aligned = design.aligned;
    delayMs = design.alignDelayMs;
    invert = design.alignInvert;
}

math::Curve SubwooferAlignment::coupledCurve(const snt::eq::CrossoverResult &design) const
{
    if (!design.aligned || !aligned || !main.drawable() || !sub.drawable())
        return {};
    const QList<float> &grid = snt::eq::displayFrequencyGrid();
    const QList<float> summed
            = snt::eq::combineCurves(snt::eq::resampleToGrid(main.freq, main.db, grid),
                                     snt::eq::resampleToGrid(sub.freq, sub.db, grid));
    math::Curve coupled;
    for (qsizetype i = 0; i < summed.size(); ++i) {
        if (grid[i] < sub.freq.first() || grid[i] > sub.freq.last())
            continue;
        coupled.freq.append(grid[i]);
        coupled.values.append(summed[i]);
    }
    return coupled;
}

bool SubwooferAlignment::canSave(const snt::eq::CrossoverResult &design) const
{
    return design.ok && stage >= Done && aligned && main.drawable() && sub.drawable();
}

CurvePack SubwooferAlignment::packRecord(const CurvePack &base,
                                         const snt::eq::CrossoverResult &design, int lift) const
{
    CurvePack pack = base;
    pack.time = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd HH:mm"));
    pack.count = 3;
    pack.phaseCompensated = true;
    pack.smoothBands = 6;
    // Fresh capture files: the files of a pack being replaced stay whole until the new ones are
    // written and listed.
    pack.rawFile.clear();
    pack.rawFile2.clear();
    storeCapture(main, pack.rawPoints, pack.freq, pack.level, pack.phase, pack.coherence);
    pack.delayMs = mainDelayMs;
    storeCapture(sub, pack.rawPoints2, pack.freq2, pack.level2, pack.phase2, pack.coherence2);
    pack.delayMs2 = subDelayMs;
    pack.pointsFile.clear();
    pack.pointCount = 0;
    pack.pointFreq.clear();
    pack.pointLevel.clear();
    pack.pointPhase.clear();
    pack.pointCoherence.clear();
    pack.curveLabels = packCurveLabels;
    pack.subAlign = QJsonObject{{QStringLiteral("delayMs"), design.alignDelayMs},
                                {QStringLiteral("invert"), design.alignInvert},
                                {QStringLiteral("crossLo"), design.windowLowHz},
                                {QStringLiteral("crossHi"), design.windowHighHz},
                                {QStringLiteral("lift"), lift},
                                {QStringLiteral("mainDelayMs"), mainDelayMs},
                                {QStringLiteral("subDelayMs"), subDelayMs},
                                {QStringLiteral("lpKind"), design.lowPassKind},
                                {QStringLiteral("lpOrder"), design.lowPassOrder},
                                {QStringLiteral("lpFc"), design.lowPassHz},
                                {QStringLiteral("gainDb"), design.subGainDb}};
    return pack;
}

bool SubwooferAlignment::save(ProjectStore &store, const snt::eq::CrossoverResult &design, int lift)
{
    const qsizetype replaced = packIndex(store, lastPackName);
    CurvePack base;
    if (replaced >= 0) {
        base = store.curvePacks[replaced];
    } else {
        base.use = packUse;
        base.seq = store.nextSeq(packUse);
        base.name = QStringLiteral("%1 %2").arg(packUse).arg(base.seq, 2, 10, QLatin1Char('0'));
    }
    const CurvePack pack = packRecord(base, design, lift);
    if (!store.savePack(pack, int(replaced)))
        return false;
    lastPackName = pack.name;
    return true;
}
