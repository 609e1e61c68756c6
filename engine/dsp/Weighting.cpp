#include "engine/dsp/Weighting.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <span>

namespace {

// Sections of the weighting curves, in the order the table lists them. The frequencies are the
// poles (and for the second-order sections the zero-pair shaping) of the analogue curves.
constexpr quint64 firstOrder = Weighting::WeghtingFilter::FirstOrder;
constexpr quint64 secondOrder = Weighting::WeghtingFilter::SecondOrder;
struct SectionSpec
{
    quint64 kind;
    double f1;
    double f2;
};
constexpr SectionSpec sectionSpecs[5] = {
        {secondOrder, 12194.217, 20.598997}, {firstOrder, 0.0, 107.65265},
        {firstOrder, 0.0, 737.86223},        {secondOrder, 12194.217, 12194.217},
        {firstOrder, 0.0, 158.489032},
};

// Section indices (0-based) each curve runs, in order.
constexpr int aSections[] = {0, 3, 1, 2};
constexpr int bSections[] = {0, 3, 4};
constexpr int cSections[] = {0, 3};

std::span<const int> sectionsOf(quint32 type)
{
    switch (type) {
    case Weighting::A:
        return aSections;
    case Weighting::B:
        return bSections;
    case Weighting::C:
        return cSections;
    default:
        return {};
    }
}

// Output gains that bring each curve to 0 dB at 1 kHz at 48 kHz.
float gainAt48k(quint32 type)
{
    switch (type) {
    case Weighting::A:
        return float(std::pow(10.0, 0.139985));
    case Weighting::B:
        return float(std::pow(10.0, 0.06848));
    case Weighting::C:
        return float(std::pow(10.0, 0.068095));
    default:
        return 1.0f;
    }
}

constexpr quint32 referenceRate = 48000;
constexpr double referenceFrequency = 1000.0;

std::complex<double> sectionResponse(const math::BiQuad &s, double frequency, quint32 rate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate);
    const std::complex<double> z2 = z1 * z1;
    return (double(s.b0) + double(s.b1) * z1 + double(s.b2) * z2)
           / (double(s.a0) + double(s.a1) * z1 + double(s.a2) * z2);
}

} // namespace

void Weighting::WeghtingFilter::design(quint32 sampleRate)
{
    clearHistory();
    const double fs = sampleRate;
    // Pre-warped angular frequency of f.
    const auto w = [fs](double f) {
        return 2.0 * fs * std::atan(2.0 * std::numbers::pi * f / (2.0 * fs));
    };
    const double p = std::exp(-w(f2) / fs);
    if (kind == FirstOrder) {
        setCoefficients(1.0f, -1.0f, 0.0f, 1.0f, float(-p), 0.0f);
    } else if (kind == SecondOrder) {
        const double k = w(f1) * p / fs;
        setCoefficients(0.0f, float(k), float(-k), 1.0f, float(-2.0 * p), float(p * p));
    }
}

Weighting::Weighting(quint32 type, quint32 sampleRate)
    : type_(type)
    , sampleRate_(sampleRate)
{
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        sections_[i].kind = sectionSpecs[i].kind;
        sections_[i].f1 = sectionSpecs[i].f1;
        sections_[i].f2 = sectionSpecs[i].f2;
    }
    design();
}

void Weighting::setSampleRate(quint32 sampleRate)
{
    sampleRate_ = sampleRate;
    design();
}

float Weighting::process(float x)
{
    float y = gain_ * x;
    for (int i : sectionsOf(type_))
        y = sections_[i].process(y);
    // A finite input can still overflow inside the sections; an infinite history would then
    // silence the meter for the rest of the run, so it starts afresh.
    if (!std::isfinite(y)) {
        for (WeghtingFilter &s : sections_)
            s.clearHistory();
        return 0.0f;
    }
    return y;
}

void Weighting::design()
{
    for (WeghtingFilter &s : sections_)
        s.design(sampleRate_);
    if (type_ == None || type_ == Flat) {
        gain_ = 1.0f;
        return;
    }
    if (sectionsOf(type_).empty())
        return;
    // The fixed gains are fitted at 48 kHz. The sections' loss at 1 kHz shifts with the rate, so
    // the gain follows it: the curve keeps its 48 kHz level at 1 kHz at every rate.
    double correction = 1.0;
    if (sampleRate_ != referenceRate && sampleRate_ > 0) {
        const Weighting reference(type_, referenceRate);
        correction = reference.sectionsResponseAt(referenceFrequency)
                     / sectionsResponseAt(referenceFrequency);
    }
    gain_ = float(gainAt48k(type_) * correction);
}

double Weighting::sectionsResponseAt(double frequency) const
{
    std::complex<double> h = 1.0;
    for (int i : sectionsOf(type_))
        h *= sectionResponse(sections_[i], frequency, sampleRate_);
    return std::abs(h);
}
