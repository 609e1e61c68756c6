#include "app/AlignmentDiagnostics.h"

#include "app/SubwooferAlignment.h"
#include "app/SubwooferCrossover.h"
#include "files/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace {

constexpr float lowestRowHz = 15.0f;
constexpr float highestRowHz = 520.0f;

QString temporaryFolder()
{
    return documentsRoot() + QStringLiteral("/临时");
}

void writeFile(const QString &path, const std::function<void(QTextStream &)> &write)
{
    QDir().mkpath(temporaryFolder());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    QTextStream out(&file);
    write(out);
}

float valueAt(const QList<float> &values, qsizetype index)
{
    return index >= 0 && index < values.size() ? values[index] : 0.0f;
}

// The first subwoofer point not below f, or the last point when every one lies below.
qsizetype matchedPoint(const QList<float> &subFreq, float f)
{
    const qsizetype lowerBound
            = std::lower_bound(subFreq.cbegin(), subFreq.cend(), f) - subFreq.cbegin();
    return std::min(lowerBound, subFreq.size() - 1);
}

// One row per main point in the table's range: its frequency, `mainColumns` at the point and
// `subColumns` at the matched subwoofer point, tab-separated.
void writeTable(QTextStream &out, const SubwooferCurve &main,
                const QList<const QList<float> *> &mainColumns, const SubwooferCurve &sub,
                const QList<const QList<float> *> &subColumns)
{
    for (qsizetype i = 0; i < main.freq.size(); ++i) {
        const float f = main.freq[i];
        if (!(f >= lowestRowHz && f <= highestRowHz))
            continue;
        out << f;
        for (const QList<float> *column : mainColumns)
            out << '\t' << valueAt(*column, i);
        const qsizetype j = matchedPoint(sub.freq, f);
        for (const QList<float> *column : subColumns)
            out << '\t' << valueAt(*column, j);
        out << '\n';
    }
}

int flag(bool on)
{
    return on ? 1 : 0;
}

} // namespace

namespace diagnostics {

QString crossoverFile()
{
    return temporaryFolder() + QStringLiteral("/分频诊断.txt");
}

QString alignmentFile()
{
    return temporaryFolder() + QStringLiteral("/对齐诊断.txt");
}

void writeCrossover(const SubwooferCrossover &crossover)
{
    const snt::eq::CrossoverResult &r = crossover.result;
    writeFile(crossoverFile(), [&](QTextStream &out) {
        out << "ok=" << flag(r.ok) << " why=" << r.why << '\n';
        out << "crossLo=" << r.windowLowHz << " crossHi=" << r.windowHighHz
            << " winLo=" << r.fallbackLowHz << " winHi=" << r.fallbackHighHz << '\n';
        out << "lpKind=" << r.lowPassKind << " lpOrder=" << r.lowPassOrder
            << " lpFc=" << r.lowPassHz << " gain=" << r.subGainDb << " lift=" << crossover.lift
            << '\n';
        out << "mainPts=" << crossover.main.freq.size() << " subPts=" << crossover.sub.freq.size()
            << '\n';
        out << "f\tmainDb\tsubDb\n";
        writeTable(out, crossover.main, {&crossover.main.db}, crossover.sub, {&crossover.sub.db});
    });
}

void writeAlignment(const snt::eq::CrossoverResult &design, const SubwooferAlignment &alignment)
{
    writeFile(alignmentFile(), [&](QTextStream &out) {
        out << "ok=" << flag(design.ok) << " aligned=" << flag(alignment.aligned)
            << " cross=" << design.windowLowHz << '-' << design.windowHighHz
            << " win=" << design.fallbackLowHz << '-' << design.fallbackHighHz
            << " delay=" << design.alignDelayMs << " invert=" << flag(design.alignInvert) << '\n';
        out << "why=" << design.why << '\n';
        out << "mainPoints=" << alignment.main.freq.size()
            << " subPoints=" << alignment.sub.freq.size() << " mainDelay=" << alignment.mainDelayMs
            << " subDelay=" << alignment.subDelayMs << '\n';
        out << "f\tmainDb\tmainPhase\tmainCoh\tsubDb\tsubPhase\tsubCoh\n";
        const SubwooferCurve &main = alignment.main;
        const SubwooferCurve &sub = alignment.sub;
        writeTable(out, main, {&main.db, &main.phase, &main.coherence}, sub,
                   {&sub.db, &sub.phase, &sub.coherence});
    });
}

} // namespace diagnostics
