#include "SignalTools.h"

#include "engine/Radix2Fft.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <complex>

namespace signaltest {

std::vector<float> play(OutputDevice& source, qint64 frames, qint64 block)
{
    std::vector<float> out(size_t(frames), 0.0f);
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min(block, frames - done);
        const qint64 got = source.read(reinterpret_cast<char*>(out.data() + done),
                                       n * qint64(sizeof(float)));
        if (got <= 0)
            break;
        done += got / qint64(sizeof(float));
    }
    return out;
}

double rms(const std::vector<float>& x)
{
    double sum = 0.0;
    for (const float v : x)
        sum += double(v) * v;
    return std::sqrt(sum / double(x.size()));
}

QList<double> octaveBandPowersDb(const std::vector<float>& x, double rate)
{
    constexpr std::size_t n = 16384;
    std::vector<double> window(n);
    for (std::size_t i = 0; i < n; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n));
    std::vector<double> psd(n / 2 + 1, 0.0);
    std::vector<double> segment(n);
    std::vector<std::complex<double>> spectrum;
    for (std::size_t start = 0; start + n <= x.size(); start += n / 2) {
        for (std::size_t i = 0; i < n; ++i)
            segment[i] = double(x[start + i]) * window[i];
        realFft(segment.data(), n, n, spectrum);
        for (std::size_t k = 0; k < psd.size(); ++k)
            psd[k] += std::norm(spectrum[k]);
    }
    QList<double> bands;
    for (int j = 0; j < 8; ++j) {
        const double low = 62.5 * std::pow(2.0, j);
        double power = 0.0;
        for (std::size_t k = 0; k < psd.size(); ++k) {
            const double f = double(k) * rate / double(n);
            if (f >= low && f < 2.0 * low)
                power += psd[k];
        }
        bands.append(10.0 * std::log10(power));
    }
    return bands;
}

int zeroCrossings(const std::vector<float>& x, qint64 first, qint64 last)
{
    int count = 0;
    for (qint64 i = first + 1; i < last; ++i)
        if ((x[size_t(i - 1)] < 0.0f) != (x[size_t(i)] < 0.0f))
            ++count;
    return count;
}

QByteArray chunk(const char* id, const QByteArray& payload)
{
    QByteArray bytes(id, 4);
    const quint32 size = qToLittleEndian(quint32(payload.size()));
    bytes.append(reinterpret_cast<const char*>(&size), 4);
    bytes.append(payload);
    if (payload.size() % 2)
        bytes.append('\0');
    return bytes;
}

QByteArray fmtPayload(quint16 format, quint16 channels, quint32 rate, quint16 bits)
{
    const quint16 align = quint16(channels * (bits / 8));
    QByteArray bytes = littleEndian<quint16>({format, channels});
    bytes += littleEndian<quint32>({rate, rate * align});
    bytes += littleEndian<quint16>({align, bits});
    return bytes;
}

QByteArray extensiblePayload(quint16 subFormat, quint16 channels, quint32 rate, quint16 bits)
{
    QByteArray bytes = fmtPayload(0xFFFE, channels, rate, bits);
    bytes += littleEndian<quint16>({22, bits});  // extra size, valid bits
    bytes += littleEndian<quint32>({channels == 1 ? 4u : 3u});  // channel mask
    bytes += littleEndian<quint16>({subFormat});
    const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    bytes.append(reinterpret_cast<const char*>(tail), 14);
    return bytes;
}

QByteArray riff(const QList<QByteArray>& chunks)
{
    QByteArray body("WAVE");
    for (const QByteArray& c : chunks)
        body += c;
    QByteArray bytes("RIFF");
    const quint32 size = qToLittleEndian(quint32(body.size()));
    bytes.append(reinterpret_cast<const char*>(&size), 4);
    return bytes + body;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray pcm24(const QList<qint32>& values)
{
    QByteArray bytes;
    for (const qint32 v : values) {
        const quint32 u = quint32(v);
        bytes.append(char(u & 0xFF));
        bytes.append(char((u >> 8) & 0xFF));
        bytes.append(char((u >> 16) & 0xFF));
    }
    return bytes;
}

}  // namespace signaltest
