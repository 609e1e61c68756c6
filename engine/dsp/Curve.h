#pragma once

#include <QList>

#include <algorithm>
#include <cmath>

// Curves over frequency and their one reading rule, shared by the calibration curves, the EQ
// engine and the displays: linear interpolation over log frequency, holding the end values.
namespace math {

// A curve: one value per frequency.
struct Curve
{
    QList<float> freq; // Hz, ascending
    QList<float> values;
};

// Reads a curve of n ≥ 1 points by linear interpolation over log frequency, holding the first and
// last values outside its range. The segment only moves forward, so a run of reads at ascending
// frequencies walks the curve once; each segment's log span is worked out once.
template<typename F, typename V>
class LogFrequencyReader
{
public:
    LogFrequencyReader(const F *freq, const V *values, qsizetype n)
        : freq(freq)
        , values(values)
        , n(n)
    { }

    double operator()(double f)
    {
        if (f <= freq[0])
            return values[0];
        if (n < 2 || f >= freq[n - 1])
            return values[n - 1];
        while (j + 2 < n && f > freq[j + 1])
            ++j;
        const double f0 = freq[j];
        const double f1 = freq[j + 1];
        if (!(f0 > 0.0 && f0 < f1))
            return values[j];
        if (spanSegment != j) {
            logSpan = std::log(f1 / f0);
            spanSegment = j;
        }
        const double t = std::clamp(std::log(f / f0) / logSpan, 0.0, 1.0);
        return values[j] + t * (double(values[j + 1]) - values[j]);
    }

private:
    const F *freq;
    const V *values;
    qsizetype n;
    qsizetype j = 0;
    qsizetype spanSegment = -1;
    double logSpan = 0.0;
};

// The points of a curve that reading it with LogFrequencyReader at the ascending `targets` touches:
// both ends and the two around each target. Read from these points alone, the curve gives the same
// values at the targets, so work on a dense curve can be limited to them. Every point when the
// frequencies are not ascending.
inline QList<qsizetype> readSupport(const QList<float> &freq, const QList<float> &targets)
{
    const qsizetype n = freq.size();
    QList<qsizetype> support;
    if (n == 0)
        return support;
    if (!std::is_sorted(freq.cbegin(), freq.cend())) {
        for (qsizetype i = 0; i < n; ++i)
            support.append(i);
        return support;
    }
    support.append(0);
    qsizetype k = 0;
    for (const float t : targets) {
        k = std::lower_bound(freq.cbegin() + k, freq.cend(), t) - freq.cbegin();
        for (const qsizetype i : {k - 1, k}) {
            if (i > support.last() && i < n)
                support.append(i);
        }
    }
    if (support.last() != n - 1)
        support.append(n - 1);
    return support;
}

} // namespace math
