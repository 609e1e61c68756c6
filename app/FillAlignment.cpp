#include "app/FillAlignment.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double viewHalfWidthMs = 2.5;
constexpr int viewBins = 64;
constexpr double binWidthMs = 2.0 * viewHalfWidthMs / viewBins; // 0.078125 ms
constexpr double latestUsablePeakMs = 1e8;
constexpr int demoSamples = 2048;

double usableAmplitude(float value)
{
    return std::isfinite(value) ? double(value) : 0.0;
}

} // namespace

void FillAlignment::reset()
{
    *this = FillAlignment();
}

bool FillAlignment::capture(Pulse pulse, const QList<float> &timeMs, const QList<float> &amplitude)
{
    const double peak = impulsePeak(timeMs, amplitude);
    if (!(peak <= latestUsablePeakMs))
        return false;
    if (pulse == Pulse::Main) {
        mainPulse_ = impulseView(timeMs, amplitude);
        mainPeakMs_ = peak;
        delayMs_ = 0.0;
    } else {
        fillPulse_ = impulseView(timeMs, amplitude);
        fillPeakMs_ = peak;
        delayMs_ = mainPeakMs_ - fillPeakMs_;
    }
    return true;
}

void FillAlignment::loadDemo(bool both, double delayMs)
{
    delayMs_ = both ? delayMs : 0.0;
    mainPeakMs_ = 0.0;
    fillPeakMs_ = both ? -delayMs : 0.0;
    mainPulse_ = demoPulse(0.22, 0.55);
    fillPulse_ = both ? demoPulse(0.3, 0.72) : QVariantList();
}

double FillAlignment::impulsePeak(const QList<float> &timeMs, const QList<float> &amplitude)
{
    if (timeMs.isEmpty() || timeMs.size() != amplitude.size())
        return noPeak;
    qsizetype best = 0;
    double largest = usableAmplitude(amplitude[0]);
    for (qsizetype i = 1; i < amplitude.size(); ++i) {
        const double a = usableAmplitude(amplitude[i]);
        if (a > largest) {
            largest = a;
            best = i;
        }
    }
    const double time = timeMs[best];
    return largest > 0.0 && std::isfinite(time) ? time : noPeak;
}

QVariantList FillAlignment::impulseView(const QList<float> &timeMs, const QList<float> &amplitude)
{
    const double peak = impulsePeak(timeMs, amplitude);
    if (peak > latestUsablePeakMs)
        return {};
    std::array<double, viewBins> bins{};
    double largest = 0.0;
    for (qsizetype i = 0; i < timeMs.size(); ++i) {
        const double d = double(timeMs[i]) - peak;
        if (!(d >= -viewHalfWidthMs && d <= viewHalfWidthMs))
            continue;
        const int bin = std::clamp(int((d + viewHalfWidthMs) / (2.0 * viewHalfWidthMs) * viewBins),
                                   0, viewBins - 1);
        const double a = usableAmplitude(amplitude[i]);
        bins[bin] = std::max(bins[bin], a);
        largest = std::max(largest, a);
    }
    if (!(largest > 0.0))
        return {};
    QVariantList view;
    view.reserve(2 * viewBins);
    for (int k = 0; k < viewBins; ++k) {
        view.append((k + 0.5) * binWidthMs - viewHalfWidthMs);
        view.append(bins[k] / largest);
    }
    return view;
}

QVariantList FillAlignment::demoPulse(double width, double reflection)
{
    QList<float> times(demoSamples);
    QList<float> amplitudes(demoSamples);
    double largest = 0.0;
    for (int i = 0; i < demoSamples; ++i) {
        const double t = i * 2.0 * viewHalfWidthMs / (demoSamples - 1) - viewHalfWidthMs;
        const double direct = std::exp(-std::pow(t / width, 2.0));
        const double late
                = reflection * std::exp(-std::pow((t - 2.2 * width) / (5.0 * width), 2.0));
        const double early = 0.18 * std::exp(-std::pow((t + 2.6 * width) / (3.2 * width), 2.0));
        times[i] = float(t);
        amplitudes[i] = float(direct + late + early);
        largest = std::max(largest, double(amplitudes[i]));
    }
    if (largest > 0.0)
        for (float &a : amplitudes)
            a = float(a / largest);
    return impulseView(times, amplitudes);
}
