#pragma once

#include "engine/dsp/BiQuad.h"

#include <QtGlobal>
#include <array>

// Frequency weighting (A, B or C) for a level meter, built from the poles of the standard
// weighting curves: each section is matched to its analogue pole at the sample rate.
class Weighting : public math::Filter
{
public:
    enum Type : quint32 { A = 0, B = 1, C = 2, None = 3, Flat = 4 };

    // A section of the weighting: a first-order high-pass (pole at f2) or a second-order
    // section with a double pole at f2 and a zero pair shaped by f1.
    struct WeghtingFilter : public math::BiQuad
    {
        enum Kind : quint64 { FirstOrder = 0, SecondOrder = 1 };
        quint64 kind = FirstOrder;
        double f1 = 0.0;
        double f2 = 0.0;

        void design(quint32 sampleRate);
    };

    explicit Weighting(quint32 type = Flat, quint32 sampleRate = 48000);

    // Redesigns every section for the rate (this clears their histories).
    void setSampleRate(quint32 sampleRate);
    float process(float x) override;

    quint32 type() const { return type_; }
    quint32 sampleRate() const { return sampleRate_; }
    float gain() const { return gain_; }

private:
    void design();
    double sectionsResponseAt(double frequency) const;

    quint32 type_;
    quint32 sampleRate_;
    float gain_ = 1.0f;
    std::array<WeghtingFilter, 5> sections_;
};
