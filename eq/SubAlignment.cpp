#include "eq/SubAlignment.h"

#include "eq/CurveMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace snt::eq {

namespace {

constexpr qsizetype minimumPoints = 20;
constexpr size_t minimumComparisons = 5;
constexpr float unlistedCoherence = 0.7f; // for points beyond a shorter coherence list
constexpr double usableErrorDeg = 60.0;
constexpr int delaySteps = 2000; // ±20 ms in 0.01 ms steps

// One subwoofer point of the crossover window with the main's phase at its frequency.
struct Comparison
{
    double degreesPerMs; // phase turned by 1 ms of delay at this frequency
    double difference; // subwoofer minus main phase, wrapped to ±180°
};

struct Curves
{
    const QList<float> &mainFreq;
    const QList<float> &mainPhase;
    const QList<float> &mainCoherence;
    const QList<float> &subFreq;
    const QList<float> &subPhase;
    const QList<float> &subCoherence;
};

float coherenceAt(const QList<float> &coherence, qsizetype i)
{
    return i < coherence.size() ? coherence[i] : unlistedCoherence;
}

std::vector<Comparison> comparisons(const Curves &c, double lowHz, double highHz, float threshold)
{
    std::vector<Comparison> points;
    for (qsizetype j = 0; j < c.subFreq.size(); ++j) {
        const double f = c.subFreq[j];
        if (f < lowHz || f > highHz || coherenceAt(c.subCoherence, j) < threshold)
            continue;
        const qsizetype k = std::lower_bound(c.mainFreq.cbegin(), c.mainFreq.cend(), c.subFreq[j])
                            - c.mainFreq.cbegin();
        if (k == 0 || k == c.mainFreq.size() || !(c.mainFreq[k - 1] > 0.0f)
            || coherenceAt(c.mainCoherence, k - 1) < threshold)
            continue;
        const double span = double(c.mainFreq[k]) - c.mainFreq[k - 1];
        const double t = span > 0.0 ? (f - c.mainFreq[k - 1]) / span : 0.0;
        const double mainPhase
                = c.mainPhase[k - 1] + t * (double(c.mainPhase[k]) - c.mainPhase[k - 1]);
        points.push_back({0.36 * f, remainder360(c.subPhase[j] - mainPhase)});
    }
    return points;
}

struct Fit
{
    double delayMs = 0.0;
    double errorDeg = std::numeric_limits<double>::infinity();
};

// The delay, from -20 ms up, whose turn best cancels the phase differences for one polarity: the
// smallest mean absolute wrapped difference, the earliest delay on ties.
Fit bestDelay(const std::vector<Comparison> &points, double polarityDeg)
{
    Fit best;
    for (int step = -delaySteps; step <= delaySteps; ++step) {
        const double delayMs = step / 100.0;
        double sum = 0.0;
        for (const Comparison &p : points)
            sum += std::abs(remainder360(-p.difference - delayMs * p.degreesPerMs - polarityDeg));
        const double error = sum / double(points.size());
        if (error < best.errorDeg)
            best = {delayMs, error};
    }
    return best;
}

QString roundedText(double value)
{
    return QString::number(qint64(std::round(value)));
}

} // namespace

void alignSubToMain(CrossoverResult &result, const QList<float> &mainFreq,
                    const QList<float> & /*mainDb*/, const QList<float> &mainPhase,
                    const QList<float> &mainCoherence, const QList<float> &subFreq,
                    const QList<float> &subPhase, const QList<float> &subCoherence)
{
    // A failed alignment must not leave an earlier one standing.
    result.aligned = false;
    result.alignDelayMs = 0.0;
    result.alignInvert = false;
    if (!result.ok) {
        if (result.why.isEmpty())
            result.why = QStringLiteral("分频结果还没算出来，先回结果页看原因");
        return;
    }
    // A design leaves no message, so any text here is an earlier alignment's.
    result.why.clear();
    if (mainFreq.size() < minimumPoints || subFreq.size() < minimumPoints
        || mainPhase.size() != mainFreq.size() || subPhase.size() != subFreq.size()) {
        result.why = QStringLiteral("这次抓到的点不够（主扩 %1 点 / 超低 %2 点），相位也不完整，"
                                    "重测一次")
                             .arg(mainFreq.size())
                             .arg(subFreq.size());
        return;
    }
    const bool windowFound = result.windowHighHz > result.windowLowHz;
    const double lowHz = windowFound ? result.windowLowHz : result.fallbackLowHz;
    const double highHz = windowFound ? result.windowHighHz : result.fallbackHighHz;
    if (highHz <= lowHz) {
        result.why = QStringLiteral("交叉区没定出来（%1–%2 Hz），先看结果页的分频结果")
                             .arg(roundedText(lowHz), roundedText(highHz));
        return;
    }

    const Curves curves{mainFreq, mainPhase, mainCoherence, subFreq, subPhase, subCoherence};
    std::vector<Comparison> points;
    for (const float threshold : {0.7f, 0.5f, 0.0f}) {
        points = comparisons(curves, lowHz, highHz, threshold);
        if (points.size() >= minimumComparisons)
            break;
    }
    if (points.size() < minimumComparisons) {
        result.why = QStringLiteral("交叉区里相干性够的点太少，检查麦位和超低电平");
        return;
    }

    const Fit normal = bestDelay(points, 0.0);
    const Fit inverted = bestDelay(points, 180.0);
    const bool normalUsable = normal.errorDeg <= usableErrorDeg;
    const bool invertedUsable = inverted.errorDeg <= usableErrorDeg;
    if (!normalUsable && !invertedUsable) {
        result.why = QStringLiteral("两条相位在交叉区对不上（误差 %1°），检查麦位和极性")
                             .arg(roundedText(std::min(normal.errorDeg, inverted.errorDeg)));
        return;
    }
    // In a narrow window the other polarity half a period later fits almost as well; the shorter
    // delay is the physically likely one, even where its fit is a little worse.
    bool invert = invertedUsable;
    if (normalUsable && invertedUsable) {
        const double a = std::abs(normal.delayMs);
        const double b = std::abs(inverted.delayMs);
        invert = b < a || (b == a && inverted.errorDeg < normal.errorDeg);
    }
    const Fit &fit = invert ? inverted : normal;
    result.aligned = true;
    result.alignDelayMs = std::round(-fit.delayMs * 10.0) / 10.0;
    result.alignInvert = invert;
}

} // namespace snt::eq
