#pragma once

#include <QList>

// The processor's EQ as biquad sections at its own sample rate of 96 kHz, and the predicted
// response of a channel on a fixed grid: what the channel strip's small EQ thumbnail draws.
namespace processor {

constexpr double kDeviceRate = 96000.0;
constexpr int kGridPoints = 501;
constexpr int kThumbnailPoints = 33;

// H(z) = (b0 + b1·z⁻¹ + b2·z⁻²) / (a0 + a1·z⁻¹ + a2·z⁻²).
struct BiquadSection
{
    double b0, b1, b2, a0, a1, a2;
};

using Sections = QList<BiquadSection>;

// 501 frequencies from 10 Hz to 24 kHz, evenly spaced in log frequency; built once.
const QList<float> &eqFrequencyGrid();

// One parametric band: peaking (0), shelves (1, 2), all-passes (3 to 5), filters (6 to 12),
// notches (13, 14). No section for an unknown type, a frequency that is not below half the
// device rate, or values that are not finite numbers; a Q of 0 or less counts as 0.707.
Sections bandSection(double freq, double gainDb, double q, int type);
// A corner (high- or low-pass) of corner type 0 to 15: its first-order and second-order
// sections; none for other types or a frequency outside (0, 48 kHz).
Sections cornerSections(double freq, int type, bool highPass);
// Second-order high- or low-pass by the bilinear transform; w = 2π·f / 96000.
BiquadSection secondOrderSection(double w, double q, bool highPass);
// Shelving section, beta = 2·√A·α.
BiquadSection shelfSection(double cosW, double a, double beta, bool high);

// Level in dB of all sections together at every grid frequency.
QList<float> responseOnGrid(const Sections &sections);
// 33 points from 30 Hz to 18 kHz in 0..1, where 0.5 is 0 dB and the span is ±18 dB; a flat
// line without sections.
QList<float> thumbnailOf(const Sections &sections);

} // namespace processor
