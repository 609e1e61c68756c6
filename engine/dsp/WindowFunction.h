#pragma once

#include "engine/dsp/Container.h"

#include <QObject>

// The window that shapes every transform block: a plain value, its kind and its table (copies
// carry both). The table is normalised to a mean of 1, so a windowed sine keeps its amplitude
// in its bin whatever the window (coherent gain 1). Windows are periodic: position n of N runs
// over x = 2πn/N.
class WindowFunction
{
    Q_GADGET
public:
    enum Type : quint32 {
        Rectangular = 0,
        Hann = 1,
        Hamming = 2,
        FlatTop = 3,
        BlackmanHarris = 4,
        HFT223D = 5,
        Exponental = 6,
    };
    Q_ENUM(Type)

    explicit WindowFunction(Type type = Rectangular);

    // The raw (unnormalised) window value at position n of a block of `size`.
    float calculate(float n, quint32 size) const;
    static float calculate(Type type, float n, quint32 size);

    // Rebuilds the table when the size changes; the same size keeps it.
    void resize(quint32 size);
    // Stores the type and rebuilds the table for the current size.
    void setType(Type type);

    Type type() const { return type_; }
    quint32 size() const { return quint32(table_.size()); }
    // Mean of the raw window over the table (1.0 before the first build).
    float mean() const { return mean_; }
    // Entry n of the normalised table.
    float value(quint32 n) const { return table_[n]; }
    const float *table() const { return table_.data(); }

private:
    void rebuild();

    Type type_;
    Container::array<float> table_;
    float mean_ = 1.0f;
};
