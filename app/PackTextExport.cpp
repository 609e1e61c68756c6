#include "app/PackTextExport.h"

#include "app/PackCurves.h"
#include "app/store/CurvePack.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"
#include "files/StoreFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <charconv>

namespace {

using Curve = PackTextExport::Curve;

constexpr qsizetype leastPoints = 8;
const QString aligned = QStringLiteral("对齐后");
const QString measured = QStringLiteral("原始");
const QString processed = QStringLiteral("处理后");

// One value with 4 decimals, as printf's "%.4f" writes it, or "*" past the list's end.
void appendCell(QByteArray &text, const QList<float> &values, qsizetype i)
{
    if (i >= values.size()) {
        text += '*';
        return;
    }
    std::array<char, 64> digits; // the largest float has 39 digits before the point
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), double(values[i]),
                                   std::chars_format::fixed, 4)
                             .ptr;
    text.append(digits.data(), end - digits.data());
}

QList<float> turned(QList<float> phase, double byDegrees)
{
    for (float &value : phase)
        value = float(snt::eq::remainder360(double(value) - byDegrees));
    return phase;
}

// A subwoofer alignment measured with both captures: the main system and the subwoofer, each
// with its phase at the aligned delays, and the two summed.
QList<Curve> alignedCaptures(const CurvePack &pack)
{
    const double d = pack.subAlign.value(QStringLiteral("delayMs")).toDouble(0.0);
    const bool invert = pack.subAlign.value(QStringLiteral("invert")).toBool(false);
    const QList<float> mainPhase
            = compensatedPhase(pack.freq, pack.phase, std::min(d, 0.0) + pack.delayMs);
    QList<float> subPhase
            = compensatedPhase(pack.freq2, pack.phase2, pack.delayMs - std::max(d, 0.0));
    if (invert)
        subPhase = turned(subPhase, 180.0);
    QList<Curve> curves{{QStringLiteral("主扩_对齐后.txt"), pack.name + QStringLiteral(" 主扩"),
                         aligned, pack.freq, pack.level, mainPhase, pack.coherence},
                        {QStringLiteral("超低_对齐后.txt"), pack.name + QStringLiteral(" 超低"),
                         aligned, pack.freq2, pack.level2, subPhase, pack.coherence2}};

    const QList<float> &grid = snt::eq::displayFrequencyGrid();
    const QList<float> coupled
            = snt::eq::combineCurves(snt::eq::resampleToGrid(pack.freq, pack.level, grid),
                                     snt::eq::resampleToGrid(pack.freq2, pack.level2, grid));
    Curve sum{QStringLiteral("耦合.txt"),
              pack.name + QStringLiteral(" 耦合"),
              aligned,
              {},
              {},
              {},
              {}};
    for (qsizetype i = 0; i < coupled.size(); ++i) {
        if (grid[i] >= pack.freq2.first() && grid[i] <= pack.freq2.last()) {
            sum.freq.append(grid[i]);
            sum.level.append(coupled[i]);
        }
    }
    if (sum.freq.size() >= leastPoints)
        curves.append(sum);
    return curves;
}

// A subwoofer alignment kept as its three named curves on the standard grid.
QList<Curve> alignedNamedCurves(const CurvePack &pack)
{
    QList<Curve> curves;
    const QString names[] = {QStringLiteral("主扩_对齐后"), QStringLiteral("超低_对齐后"),
                             QStringLiteral("耦合")};
    for (int k = 0; k < 3; ++k) {
        curves.append({names[k] + QStringLiteral(".txt"),
                       pack.name + QLatin1Char(' ') + names[k],
                       aligned,
                       snt::eq::standardGrid(),
                       pack.curves[k],
                       {},
                       {}});
    }
    return curves;
}

// Each measured point of a line array, levels relative to its own band level.
QList<Curve> arrayPoints(const CurvePack &pack)
{
    QList<Curve> curves;
    const qsizetype count = std::min(pack.pointFreq.size(), pack.pointLevel.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QList<float> &freq = pack.pointFreq[i];
        if (std::min(freq.size(), pack.pointLevel[i].size()) < leastPoints)
            continue; // numbered all the same, so a file's number is always its point's
        const QString number = QString::number(i + 1);
        const QList<float> phase
                = i < pack.pointPhase.size() && pack.pointPhase[i].size() == freq.size()
                          ? compensatedPhase(freq, pack.pointPhase[i], pack.delayMs)
                          : QList<float>();
        curves.append({QStringLiteral("测点/点%1.txt").arg(number),
                       pack.name + QStringLiteral(" 点") + number, measured, freq,
                       bandRelativeDb(freq, pack.pointLevel[i]), phase,
                       pack.pointCoherence.value(i)});
    }
    return curves;
}

// The measured curve and, when it has an EQ to show, the curve with that EQ; a line array's
// measured curve is the average of its points, which follow it.
QList<Curve> ordinaryCurves(const CurvePack &pack)
{
    const bool array = hasPointCurves(pack);
    const QString first = array ? QStringLiteral("平均") : measured;
    QList<Curve> curves{{first + QStringLiteral(".txt"), pack.name + QLatin1Char(' ') + first,
                         measured, pack.freq, pack.level,
                         compensatedPhase(pack.freq, pack.phase, pack.delayMs), pack.coherence}};
    const snt::eq::DisplayCurve preview = snt::eq::prepareDisplayCurve(packCurveRecord(pack, 0));
    if (preview.valid) {
        curves.append({processed + QStringLiteral(".txt"), pack.name + QLatin1Char(' ') + processed,
                       processed, preview.freq, preview.after, turned(preview.phaseAfter, 0.0),
                       preview.coherence});
    }
    if (array)
        curves += arrayPoints(pack);
    return curves;
}

} // namespace

QString PackTextExport::folderFor(const QString &packName)
{
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty())
        desktop = QDir::homePath();
    QString name = packName;
    name.replace(store::forbiddenNameCharacters(), QStringLiteral("_"));
    if (name.isEmpty())
        name = QStringLiteral("曲线包");
    return desktop + QLatin1Char('/') + name + QStringLiteral("_导出");
}

QList<Curve> PackTextExport::curvesOf(const CurvePack &pack)
{
    if (!pack.subAlign.isEmpty() && pack.freq2.size() >= leastPoints
        && pack.level2.size() == pack.freq2.size())
        return alignedCaptures(pack);
    if (!pack.subAlign.isEmpty() && pack.curves.size() >= 3)
        return alignedNamedCurves(pack);
    return ordinaryCurves(pack);
}

QByteArray PackTextExport::text(const Curve &curve)
{
    QByteArray text = QByteArrayLiteral("\xEF\xBB\xBF");
    text += "# target: " + curve.target.toUtf8() + '\n';
    text += "# points: " + QByteArray::number(curve.freq.size()) + '\n';
    text += QStringLiteral("# smoothing: 不平滑\n").toUtf8();
    text += "# state: " + curve.state.toUtf8() + '\n';
    text += "# frequency_hz\tdb\tphase_deg\tcoherence\n";
    text.reserve(text.size() + curve.freq.size() * 40);
    for (qsizetype i = 0; i < curve.freq.size(); ++i) {
        appendCell(text, curve.freq, i);
        text += '\t';
        appendCell(text, curve.level, i);
        text += '\t';
        appendCell(text, curve.phase, i);
        text += '\t';
        appendCell(text, curve.coherence, i);
        text += '\n';
    }
    return text;
}

bool PackTextExport::write(const QString &folder, const QList<Curve> &curves)
{
    if (!QDir().mkpath(folder))
        return false;
    bool all = true;
    for (const Curve &curve : curves) {
        const QString path = folder + QLatin1Char('/') + curve.file;
        all = QDir().mkpath(QFileInfo(path).path()) && store::saveExport(path, text(curve)) && all;
    }
    return all;
}
