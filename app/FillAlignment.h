#pragma once

#include <QList>
#include <QVariantList>

// The fill-loudspeaker alignment's pulses: the microphone hears the main system's pulse, then
// the fill's, and the fill is delayed by the difference of their arrival times so both arrive
// together. This reads the pulses from the impulse responses of the runs and keeps them with the
// delay; the fill flow (FillFlow) decides which pulse a run captures. Everything runs on the GUI
// thread.
class FillAlignment
{
public:
    enum class Pulse { Main, Fill };

    // Where the screen draws the two pulses, as fractions of the chart's width.
    static constexpr double mainPulseX = 0.33;
    static constexpr double fillPulseX = 0.72;
    // What `impulsePeak` answers when there is no pulse.
    static constexpr double noPeak = 1e9;

    // The fill's delay in ms: main peak − fill peak; negative when the main must wait instead.
    double delayMs() const { return delayMs_; }
    double mainPeakMs() const { return mainPeakMs_; }
    double fillPeakMs() const { return fillPeakMs_; }
    const QVariantList &mainPulse() const { return mainPulse_; }
    const QVariantList &fillPulse() const { return fillPulse_; }

    // Nothing captured.
    void reset();
    // Takes the impulse response (time in ms, amplitude) of a run that captured `pulse`; the
    // fill's pulse sets the delay, the main system's puts it back to 0. False, changing nothing,
    // when it holds no clear pulse.
    bool capture(Pulse pulse, const QList<float> &timeMs, const QList<float> &amplitude);
    // Synthetic pulses for demos and screenshots: the main system's alone, or `both` with the
    // given delay.
    void loadDemo(bool both, double delayMs);

    // The time of the largest amplitude (non-finite ones count as 0, the first of equal maxima
    // wins), or `noPeak` for lists that are empty or of different lengths, with no amplitude
    // above 0, or with a peak time that is not finite.
    static double impulsePeak(const QList<float> &timeMs, const QList<float> &amplitude);
    // The pulse as the chart draws it: 64 bins over ±2.5 ms around the peak, each the largest
    // amplitude falling in it over the largest of all, as a flat list of (ms from the peak,
    // amplitude 0..1) pairs; empty without a pulse.
    static QVariantList impulseView(const QList<float> &timeMs, const QList<float> &amplitude);
    // A loudspeaker-like pulse of the given width (ms) with a reflection of relative size
    // `reflection`, as `impulseView` shows it.
    static QVariantList demoPulse(double width, double reflection);

private:
    double delayMs_ = 0.0;
    double mainPeakMs_ = 0.0;
    double fillPeakMs_ = 0.0;
    QVariantList mainPulse_;
    QVariantList fillPulse_;
};
