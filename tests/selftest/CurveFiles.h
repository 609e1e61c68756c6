#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cmath>

// Curve text files as a measuring program exports them (a header line, then frequency, level,
// phase and coherence separated by tabs), shaped from an analog peaking filter.
namespace selftesttest {

// The level of an analog peaking filter (centre f0, gain, Q) at f, from its transfer function.
inline double peakingDb(double f, double f0, double gainDb, double q)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double x = f / f0;
    const double real = (1 - x * x) * (1 - x * x);
    return 10.0 * std::log10((real + std::pow(x * a / q, 2)) / (real + std::pow(x / (a * q), 2)));
}

// 600 points from 20 Hz to 20 kHz, flat but for one peak or dip, at a coherence of 0.98.
inline bool writeCurveFile(const QString &path, double f0, double gainDb, double q)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "频率\t幅度\t相位\t相干\n";
    constexpr int points = 600;
    for (int i = 0; i < points; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / double(points - 1));
        out << QString::number(f, 'f', 3) << '\t'
            << QString::number(peakingDb(f, f0, gainDb, q), 'f', 4) << "\t0\t0.98\n";
    }
    return file.error() == QFile::NoError;
}

// The curve the test command computes: a 9 dB resonance at 2 kHz (Q 4).
inline bool writeResonanceCurve(const QString &path)
{
    return writeCurveFile(path, 2000.0, 9.0, 4.0);
}

// A dip of 20 dB at 125 Hz (Q 1): the EQ engine refuses the last two schemes (too deep and wide a
// dip within the range they correct) and computes the first four.
inline bool writeDipCurve(const QString &path)
{
    return writeCurveFile(path, 125.0, -20.0, 1.0);
}

} // namespace selftesttest
