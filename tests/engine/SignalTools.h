#pragma once

#include "engine/tf/generator/OutputDevice.h"

#include <QByteArray>
#include <QList>
#include <vector>

// Helpers shared by the test-signal tests: playing a source into memory, measuring band powers
// and writing WAV files byte by byte.
namespace signaltest {

// Reads `frames` mono frames from an open source, in blocks of `block` frames.
std::vector<float> play(OutputDevice& source, qint64 frames, qint64 block = 4096);

double rms(const std::vector<float>& x);

// Power per octave band [62.5·2^j, 125·2^j) Hz, j = 0 … 7, from a Welch estimate (Hann,
// 16384 points, half overlap) at `rate`, in dB relative to an arbitrary common reference.
QList<double> octaveBandPowersDb(const std::vector<float>& x, double rate);

// The number of sign changes from negative to non-negative or back within [first, last).
int zeroCrossings(const std::vector<float>& x, qint64 first, qint64 last);

// One RIFF chunk with its pad byte.
QByteArray chunk(const char* id, const QByteArray& payload);
// A plain 16-byte "fmt " payload, or the 40-byte extensible one carrying `subFormat`.
QByteArray fmtPayload(quint16 format, quint16 channels, quint32 rate, quint16 bits);
QByteArray extensiblePayload(quint16 subFormat, quint16 channels, quint32 rate, quint16 bits);
QByteArray riff(const QList<QByteArray>& chunks);
bool writeFile(const QString& path, const QByteArray& bytes);

template <typename T>
QByteArray littleEndian(const QList<T>& values)
{
    QByteArray bytes;
    for (const T v : values)
        bytes.append(reinterpret_cast<const char*>(&v), sizeof(T));  // the test host is LE
    return bytes;
}

QByteArray pcm24(const QList<qint32>& values);

}  // namespace signaltest
