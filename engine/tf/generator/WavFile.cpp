#include "engine/tf/generator/WavFile.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr quint16 formatPcm = 1;
constexpr quint16 formatFloat = 3;
constexpr quint16 formatExtensible = 0xFFFE;
constexpr quint32 extensibleFmtSize = 40;
// Samples no test signal holds: +200 dBFS (10^10) is far beyond any real one, as ±200 dB is for
// the calibration files. Played, such a sample only drives the output to full scale.
constexpr double maxSample = 1e10;
constexpr qint64 subFormatOffset = 24;
// Bytes 4 … 15 of every standard sub-format GUID (the first two bytes carry the format).
constexpr unsigned char guidTail[12]
        = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct Format
{
    bool present = false;
    quint16 audioFormat = 0;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bitsPerSample = 0;
};

bool fail(WavFile &file, const QString &error)
{
    file.error = error;
    file.samples.clear();
    return false;
}

qint32 signExtend24(const unsigned char *p)
{
    qint32 v = qint32(p[0]) | (qint32(p[1]) << 8) | (qint32(p[2]) << 16);
    if (v & 0x800000)
        v -= 0x1000000;
    return v;
}

template<typename T>
T readLittle(const unsigned char *p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return qFromLittleEndian(v);
}

// The value of one sample, or false when the format/width pair is not one this reader knows.
bool decode(const Format &format, const unsigned char *p, double &value)
{
    if (format.audioFormat == formatFloat) {
        if (format.bitsPerSample == 32) {
            const quint32 bits = readLittle<quint32>(p);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            value = f;
            return true;
        }
        if (format.bitsPerSample == 64) {
            const quint64 bits = readLittle<quint64>(p);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            value = d;
            return true;
        }
        return false;
    }
    switch (format.bitsPerSample) {
    case 8:
        value = (int(p[0]) - 128) * 0.0078125;
        return true;
    case 16:
        value = readLittle<qint16>(p) * 3.0517578e-5;
        return true;
    case 24:
        value = signExtend24(p) * 1.1920929e-7;
        return true;
    case 32:
        value = readLittle<qint32>(p) * 4.656613e-10;
        return true;
    default:
        return false;
    }
}

bool readFormat(QDataStream &in, QFile &file, quint32 size, qint64 chunkStart, Format &format)
{
    quint32 byteRate = 0;
    quint16 blockAlign = 0;
    in >> format.audioFormat >> format.channels >> format.sampleRate >> byteRate >> blockAlign
            >> format.bitsPerSample;
    if (in.status() != QDataStream::Ok)
        return false;
    format.present = true;
    if (format.audioFormat == formatExtensible && size >= extensibleFmtSize) {
        unsigned char guid[16];
        if (file.seek(chunkStart + subFormatOffset)
            && in.readRawData(reinterpret_cast<char *>(guid), 16) == 16
            && std::memcmp(guid + 4, guidTail, sizeof guidTail) == 0) {
            const quint16 sub = quint16(guid[0] | (guid[1] << 8));
            if (sub == formatPcm || sub == formatFloat)
                format.audioFormat = sub;
        }
    }
    return true;
}

} // namespace

bool readWavFile(const QString &path, WavFile &file)
{
    file.ok = false;
    file.samples.clear();
    file.error.clear();

    QFile device(path);
    if (!device.open(QIODevice::ReadOnly))
        return fail(file, QStringLiteral("无法打开文件: %1").arg(device.errorString()));
    QDataStream in(&device);
    in.setByteOrder(QDataStream::LittleEndian);

    char riff[4], wave[4];
    quint32 riffSize = 0;
    if (in.readRawData(riff, 4) != 4 || std::memcmp(riff, "RIFF", 4) != 0)
        return fail(file, QStringLiteral("不是有效的 WAV 文件"));
    in >> riffSize;
    if (in.readRawData(wave, 4) != 4 || std::memcmp(wave, "WAVE", 4) != 0
        || in.status() != QDataStream::Ok)
        return fail(file, QStringLiteral("不是有效的 WAV 文件"));
    if (device.atEnd())
        return fail(file, QStringLiteral("缺少 fmt 块"));

    Format format;
    QByteArray data;
    bool haveData = false;
    while (!device.atEnd()) {
        char id[4];
        quint32 size = 0;
        if (in.readRawData(id, 4) != 4)
            break;
        in >> size;
        if (in.status() != QDataStream::Ok)
            break;
        const qint64 chunkStart = device.pos();
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (!readFormat(in, device, size, chunkStart, format))
                return fail(file, QStringLiteral("fmt 块读取失败"));
        } else if (std::memcmp(id, "data", 4) == 0) {
            // A size beyond the end of the file reads what is there.
            const qint64 wanted = std::min<qint64>(size, device.size() - chunkStart);
            data = device.read(wanted);
            if (data.size() != wanted)
                return fail(file, QStringLiteral("data 块读取失败"));
            haveData = true;
        }
        if (!device.seek(chunkStart + qint64(size) + qint64(size % 2)))
            break;
        in.resetStatus();
    }

    if (!format.present)
        return fail(file, QStringLiteral("缺少 fmt 块"));
    if (!haveData || data.isEmpty())
        return fail(file, QStringLiteral("缺少 data 块或数据为空"));
    if (format.audioFormat != formatPcm && format.audioFormat != formatFloat)
        return fail(file, QStringLiteral("不支持的音频格式 (仅支持 PCM 和 IEEE Float)"));
    if (format.channels == 0 || format.sampleRate == 0)
        return fail(file, QStringLiteral("无效的声道数或采样率"));

    file.bitsPerSample = format.bitsPerSample;
    file.sampleRate = int(format.sampleRate);
    file.channels = format.channels;
    const int sampleBytes = format.bitsPerSample / 8;
    const qint64 frameBytes = qint64(sampleBytes) * format.channels;
    if (frameBytes == 0)
        return fail(file, QStringLiteral("无效的帧大小"));
    const qint64 frames = data.size() / frameBytes;
    if (frames == 0)
        return fail(file, QStringLiteral("音频数据为空"));
    // A width this reader cannot decode is refused before anything plays as silence.
    double probe = 0.0;
    if (!decode(format, reinterpret_cast<const unsigned char *>(data.constData()), probe))
        return fail(file, QStringLiteral("不支持的位深: %1").arg(format.bitsPerSample));

    file.samples.resize(frames);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    for (qint64 f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (int c = 0; c < format.channels; ++c) {
            double value = 0.0;
            decode(format, bytes + f * frameBytes + qint64(c) * sampleBytes, value);
            // Float files can hold values that are not numbers, or too large for single
            // precision: played, a NaN would stop the output and an infinity drive it to full
            // scale.
            if (!std::isfinite(value) || std::abs(value) > std::numeric_limits<float>::max())
                return fail(file, QStringLiteral("音频文件含有无效的采样值 (NaN 或无穷大): %1")
                                          .arg(QFileInfo(path).fileName()));
            if (std::abs(value) > maxSample)
                return fail(file,
                            QStringLiteral("音频文件含有超出范围的采样值 (超过 +200 dBFS): %1")
                                    .arg(QFileInfo(path).fileName()));
            sum += value;
        }
        file.samples[f] = float(sum / format.channels);
    }
    file.ok = true;
    return true;
}
