#pragma once

#include "engine/dsp/Radix2Fft.h"
#include "engine/tf/generator/OutputDevice.h"
#include "tests/support/LoopbackCard.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

// Helpers shared by the signal and measurement tests: playing a source into memory, band powers,
// WAV files written byte by byte, and an independent double-precision model of a measured path
// (gain, whole-sample delay, audio-EQ-cookbook peaking biquad).
namespace signaltest {

// Reads `frames` mono frames from an open source, in blocks of `block` frames.
inline std::vector<float> play(OutputDevice &source, qint64 frames, qint64 block = 4096)
{
    std::vector<float> out(size_t(frames), 0.0f);
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min(block, frames - done) * qint64(sizeof(float));
        const qint64 got = source.read(reinterpret_cast<char *>(out.data() + done), n);
        if (got <= 0)
            break;
        done += got / qint64(sizeof(float));
    }
    return out;
}

inline double rmsDb(const std::vector<float> &x)
{
    double sum = 0.0;
    for (const float v : x)
        sum += double(v) * v;
    return 10.0 * std::log10(sum / double(x.size()));
}

// Power per octave band [62.5·2^j, 125·2^j) Hz, j = 0 … 7, from a Welch estimate (Hann, 16384
// points, half overlap), in dB relative to an arbitrary common reference.
inline QList<double> octaveBandPowersDb(const std::vector<float> &x, double rate)
{
    constexpr std::size_t n = 16384;
    std::vector<double> psd(n / 2 + 1, 0.0), segment(n);
    std::vector<std::complex<double>> spectrum;
    for (std::size_t start = 0; start + n <= x.size(); start += n / 2) {
        for (std::size_t i = 0; i < n; ++i)
            segment[i] = double(x[start + i]) * (0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / n));
        realFft(segment.data(), n, n, spectrum);
        for (std::size_t k = 0; k < psd.size(); ++k)
            psd[k] += std::norm(spectrum[k]);
    }
    QList<double> bands(8, 0.0);
    for (std::size_t k = 1; k < psd.size(); ++k) {
        const int j = int(std::floor(std::log2(double(k) * rate / double(n) / 62.5)));
        if (j >= 0 && j < 8)
            bands[j] += psd[k];
    }
    for (double &b : bands)
        b = 10.0 * std::log10(b);
    return bands;
}

// ---- WAV files ----

inline QByteArray chunk(const char *id, const QByteArray &payload)
{
    const quint32 size = quint32(payload.size()); // the test host is little-endian
    QByteArray bytes = QByteArray(id, 4) + QByteArray(reinterpret_cast<const char *>(&size), 4);
    return bytes + payload + (payload.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

template<typename T>
QByteArray littleEndian(const QList<T> &values)
{
    return QByteArray(reinterpret_cast<const char *>(values.constData()),
                      values.size() * sizeof(T));
}

// A plain 16-byte "fmt " payload, or with `subFormat` the 40-byte extensible one.
inline QByteArray fmt(quint16 format, quint16 channels, quint32 rate, quint16 bits,
                      int subFormat = -1)
{
    const quint16 align = quint16(channels * (bits / 8));
    QByteArray bytes = littleEndian<quint16>({subFormat < 0 ? format : quint16(0xFFFE), channels});
    bytes += littleEndian<quint32>({rate, rate * align}) + littleEndian<quint16>({align, bits});
    if (subFormat < 0)
        return chunk("fmt ", bytes);
    bytes += littleEndian<quint16>({22, bits}) + littleEndian<quint32>({4u}); // valid bits, mask
    bytes += littleEndian<quint16>({quint16(subFormat)});
    return chunk("fmt ", bytes + QByteArray::fromHex("000000001000800000AA00389B71"));
}

inline QByteArray i16(const QList<qint16> &v)
{
    return littleEndian(v);
}
inline QByteArray f32(const QList<float> &v)
{
    return littleEndian(v);
}

inline QByteArray pcm24(const QList<qint32> &values)
{
    QByteArray bytes;
    for (const qint32 v : values)
        bytes += QByteArray(reinterpret_cast<const char *>(&v), 3);
    return bytes;
}

inline QByteArray riff(const QList<QByteArray> &chunks)
{
    QByteArray body("WAVE");
    for (const QByteArray &c : chunks)
        body += c;
    return chunk("RIFF", body);
}

// A file of a "fmt " chunk and one "data" chunk.
inline QByteArray wav(const QByteArray &format, const QByteArray &data)
{
    return riff({format, chunk("data", data)});
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// ---- the measured path ----

struct Biquad
{
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0; // a0 = 1

    static Biquad peaking(double f0, double gainDb, double q, double rate)
    {
        const double a = std::pow(10.0, gainDb / 40.0);
        const double w0 = 2.0 * std::numbers::pi * f0 / rate;
        const double alpha = std::sin(w0) / (2.0 * q);
        const double a0 = 1.0 + alpha / a;
        return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w0) / a0, (1.0 - alpha * a) / a0,
                -2.0 * std::cos(w0) / a0, (1.0 - alpha / a) / a0};
    }
};

struct Path
{
    double gain = 1.0;
    int delay = 0; // samples; negative: the measurement leads
    Biquad bq;

    std::complex<double> response(double omega) const
    {
        const std::complex<double> z1 = std::polar(1.0, -omega);
        return gain * (bq.b0 + bq.b1 * z1 + bq.b2 * z1 * z1) / (1.0 + bq.a1 * z1 + bq.a2 * z1 * z1)
               * std::polar(1.0, -omega * delay);
    }
    // x through the path; samples before x's start are its periodic continuation when `period`
    // is given, else silence.
    std::vector<double> apply(const std::vector<double> &x, long long period = 0) const
    {
        std::vector<double> y(x.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (long long n = 0; n < (long long)x.size(); ++n) {
            const long long at = n - delay;
            double in = 0.0;
            if (at >= 0 && at < (long long)x.size())
                in = x[size_t(at)];
            else if (period)
                in = x[size_t((at % period + period) % period)];
            y[size_t(n)] = bq.b0 * in + bq.b1 * x1 + bq.b2 * x2 - bq.a1 * y1 - bq.a2 * y2;
            x2 = std::exchange(x1, in);
            y2 = std::exchange(y1, y[size_t(n)]);
        }
        for (double &v : y)
            v *= gain;
        return y;
    }
};

// The test card's path for an input channel that plays output channel `source` through `path`.
inline snt::test::LoopbackCard::Path cardPath(const Path &path, int source)
{
    snt::test::LoopbackCard::Path card;
    card.sourceChannel = source;
    card.gain = float(path.gain);
    card.delayFrames = path.delay;
    card.biquad = {path.bq.b0, path.bq.b1, path.bq.b2, path.bq.a1, path.bq.a2};
    return card;
}

// Uniform white noise in [-amplitude, amplitude), reproducible; with `period` it repeats.
inline std::vector<double> whiteNoise(std::size_t count, double amplitude, unsigned seed,
                                      std::size_t period = 0)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> x(count);
    for (std::size_t n = 0; n < count; ++n)
        x[n] = period && n >= period ? x[n % period] : uniform(engine);
    return x;
}

} // namespace signaltest
