#include "engine/WindowFunctionNames.h"

const QMap<WindowFunction::Type, QString> &windowFunctionNames()
{
    static const QMap<WindowFunction::Type, QString> names{
            {WindowFunction::Rectangular, QStringLiteral("Rectangular")},
            {WindowFunction::Hann, QStringLiteral("Hann")},
            {WindowFunction::Hamming, QStringLiteral("Hamming")},
            {WindowFunction::FlatTop, QStringLiteral("Flat Top")},
            {WindowFunction::BlackmanHarris, QStringLiteral("Blackman Harris")},
            {WindowFunction::HFT223D, QStringLiteral("HFT223D")},
            {WindowFunction::Exponental, QStringLiteral("Exponental")},
    };
    return names;
}
