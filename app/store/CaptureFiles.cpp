#include "app/store/CaptureFiles.h"

#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/RegularFile.h"
#include "files/StoreFile.h"

#include <QFile>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr char kRawMagic[] = "SNTRAW3";
constexpr char kPointsMagic[] = "SNTPTS1";
constexpr qint64 kMagicSize = 7;
constexpr qint32 kMinValues = 8;
constexpr qint32 kMaxValues = 2000000;
constexpr qint32 kMaxPoints = 64;
// The most values a measured point has: the measurement's largest transform, of 65536 samples,
// gives 32768 bins. A line array's points are such measurements.
constexpr qint64 kMostBinsMeasured = 32768;
constexpr qint64 arraysBytes(qint64 values)
{
    return 4 * values * qint64(sizeof(float));
}
// The largest files the readers accept: one capture of the most values, or every point with as
// many values as a measurement has bins. A points file beyond that was not written by the
// program, and reading it could hold the window for long (64 points of 2,000,000 values are
// 2 GB).
constexpr qint64 kMaxRawBytes = kMagicSize + 4 + arraysBytes(kMaxValues);
constexpr qint64 kMaxPointsBytes
        = kMagicSize + 4 + kMaxPoints * (4 + arraysBytes(kMostBinsMeasured));
// Levels no measurement gives, either way: ±200 dB is far beyond any real one, as for the
// calibration files. A capture's levels are in dB; a point's are linear magnitudes, which the same
// bound limits to 10^10. A value past it comes from a damaged file and would reach every curve and
// export made from it (a level of 3.0e38 dB is exported as a number of 39 digits).
constexpr float kMaxLevelDb = 200.0f;
constexpr float kMaxMagnitude = 1e10f;

// What keeps a capture's values from being read, if anything.
enum class Values { Plausible, NotFinite, LevelBeyondBound };

QString newFileName(const char *suffix)
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1String(suffix);
}

QString rawPath(const QString &name)
{
    return rawDir() + QLatin1Char('/') + name;
}

bool writeInt32(QIODevice &device, qint32 value)
{
    std::array<char, 4> bytes;
    qToLittleEndian(value, bytes.data());
    return store::writeAll(device, bytes.data(), qint64(bytes.size()));
}

// Writes exactly n values: the list's first n, then zeros where the list is shorter. Converts
// through a fixed block so even the largest captures go out in a few large writes.
bool writeFloatArray(QIODevice &device, const QList<float> &values, qsizetype n)
{
    constexpr qsizetype kBlock = 16384;
    std::array<float, kBlock> block;
    for (qsizetype start = 0; start < n; start += kBlock) {
        const qsizetype size = std::min(kBlock, n - start);
        const qsizetype fromList = std::clamp(values.size() - start, qsizetype(0), size);
        if (fromList > 0)
            qToLittleEndian<float>(values.constData() + start, fromList, block.data());
        std::fill(block.begin() + fromList, block.begin() + size, 0.0f);
        if (!store::writeAll(device, reinterpret_cast<const char *>(block.data()),
                             qint64(size) * qint64(sizeof(float))))
            return false;
    }
    return true;
}

bool writeCapture(QIODevice &device, const QList<float> &freq, const QList<float> &level,
                  const QList<float> &phase, const QList<float> &coherence)
{
    const qsizetype n = freq.size();
    return store::writeAll(device, kRawMagic, kMagicSize) && writeInt32(device, qint32(n))
           && writeFloatArray(device, freq, n) && writeFloatArray(device, level, n)
           && writeFloatArray(device, phase, n) && writeFloatArray(device, coherence, n);
}

// A capture is worth a file when it holds at least 8 values with a level for each.
bool presentCapture(const QList<float> &freq, const QList<float> &level)
{
    return freq.size() >= kMinValues && level.size() == freq.size();
}

// Whether each of the first n values of the list (those a file holds) meets `fits`.
template<typename Fits>
bool allUpTo(const QList<float> &values, qsizetype n, Fits fits)
{
    return std::all_of(values.cbegin(), values.cbegin() + std::min(n, values.size()), fits);
}

// A value that is not a finite number, or a level beyond `maxLevel` either way, would reach every
// curve and text export made from the capture, so the reader refuses a file that holds one.
Values checkValues(const QList<float> &freq, const QList<float> &level, const QList<float> &phase,
                   const QList<float> &coherence, float maxLevel)
{
    const qsizetype n = freq.size();
    const auto finite = [](float value) {
        return std::isfinite(value);
    };
    if (!allUpTo(freq, n, finite) || !allUpTo(level, n, finite) || !allUpTo(phase, n, finite)
        || !allUpTo(coherence, n, finite))
        return Values::NotFinite;
    if (!allUpTo(level, n, [maxLevel](float value) { return std::abs(value) <= maxLevel; }))
        return Values::LevelBeyondBound;
    return Values::Plausible;
}

// Why the values are refused, for the log.
const char *whyRefused(Values values)
{
    return values == Values::NotFinite ? "holds values that are not finite numbers"
                                       : "holds levels beyond 200 dB either way";
}

// Captures the reader would refuse are not written: longer ones than a file holds, and those
// with values it refuses.
bool readableCapture(const QList<float> &freq, const QList<float> &level, const QList<float> &phase,
                     const QList<float> &coherence, const char *what)
{
    if (freq.size() > kMaxValues) {
        sntWarning(lcStore, "[Store]")
                << what << "of" << freq.size() << "values is longer than a capture file holds";
        return false;
    }
    const Values values = checkValues(freq, level, phase, coherence, kMaxLevelDb);
    if (values != Values::Plausible) {
        sntWarning(lcStore, "[Store]") << what << whyRefused(values);
        return false;
    }
    return true;
}

bool writeCaptureFile(QString &fileName, const QList<float> &freq, const QList<float> &level,
                      const QList<float> &phase, const QList<float> &coherence)
{
    if (!store::isPlainFileName(fileName)) {
        if (!fileName.isEmpty())
            sntWarning(lcStore, "[Store]")
                    << "capture file name" << fileName << "replaced by a new one";
        fileName = newFileName(".raw");
    }
    return store::saveAtomically(rawPath(fileName), [&](QIODevice &device) {
        return writeCapture(device, freq, level, phase, coherence);
    });
}

bool readInt32(QIODevice &device, qint32 &value)
{
    std::array<char, 4> bytes;
    if (device.read(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        return false;
    value = qFromLittleEndian<qint32>(bytes.data());
    return true;
}

// Opens a capture file of the raw folder and checks its magic. Names that are not plain file
// names are refused, so a copied project file cannot make the program read outside the folder;
// so is anything but a regular file (`refusal`, when given, then receives a sentence for the
// user).
bool openCaptureFile(QFile &file, const QString &name, const char *magic, qint64 maxBytes,
                     QString *refusal)
{
    if (!store::isPlainFileName(name))
        return false;
    const store::FileRead opened = store::openRegularFile(file, rawPath(name), maxBytes);
    if (refusal && !opened.refusal.isEmpty())
        *refusal = opened.refusal;
    return opened.opened && file.read(kMagicSize) == QByteArray(magic, kMagicSize);
}

bool validValueCount(qsizetype n)
{
    return n >= kMinValues && n <= kMaxValues;
}

// Reads n values into each of the four lists, refusing early when the file is too short to hold
// them (so a damaged count never makes us allocate for data that is not there), and refusing
// values that are not finite numbers or levels beyond `maxLevel` (`refusal`, when given, then
// receives a sentence for the user that names the file and why).
bool readFourArrays(QFile &file, const QString &name, qint32 n, float maxLevel, QList<float> &freq,
                    QList<float> &level, QList<float> &phase, QList<float> &coherence,
                    QString *refusal)
{
    if (file.size() - file.pos() < arraysBytes(n))
        return false;
    if (!readFloatArray(file, freq, n) || !readFloatArray(file, level, n)
        || !readFloatArray(file, phase, n) || !readFloatArray(file, coherence, n))
        return false;
    const Values values = checkValues(freq, level, phase, coherence, maxLevel);
    if (values == Values::Plausible)
        return true;
    sntWarning(lcStore, "[Store]") << "capture file" << rawPath(name)
                                   << QStringLiteral("%1, not read").arg(whyRefused(values));
    if (refusal)
        *refusal = (values == Values::NotFinite
                            ? QStringLiteral("「%1」里有无效的数值（NaN 或无穷大），已跳过")
                            : QStringLiteral(
                                    "「%1」里有超出 ±200 dB 的电平，不像测量得出的，已跳过"))
                           .arg(name);
    return false;
}

bool readCaptureFile(const QString &name, QList<float> &freq, QList<float> &level,
                     QList<float> &phase, QList<float> &coherence, int &count, QString *refusal)
{
    QFile file;
    qint32 n = 0;
    if (!openCaptureFile(file, name, kRawMagic, kMaxRawBytes, refusal) || !readInt32(file, n)
        || !validValueCount(n))
        return false;
    if (!readFourArrays(file, name, n, kMaxLevelDb, freq, level, phase, coherence, refusal)) {
        // Emptied with their memory: a refused capture may have been read whole.
        freq = level = phase = coherence = QList<float>();
        return false;
    }
    count = n;
    return true;
}

QList<float> pointList(const QList<QList<float>> &lists, qsizetype index)
{
    return index < lists.size() ? lists.at(index) : QList<float>();
}

// The reader's limits, checked before writing so that a written file always reads back.
bool readablePoints(const QList<QList<float>> &frequencies, const QList<QList<float>> &levels,
                    const QList<QList<float>> &phases, const QList<QList<float>> &coherences)
{
    if (frequencies.size() > kMaxPoints) {
        sntWarning(lcStore, "[Store]")
                << frequencies.size() << "points are more than a points file holds";
        return false;
    }
    qint64 bytes = kMagicSize + 4;
    for (const QList<float> &point : frequencies)
        bytes += 4 + arraysBytes(point.size());
    if (bytes > kMaxPointsBytes) {
        sntWarning(lcStore, "[Store]") << "points of" << bytes << "bytes are more than the"
                                       << kMaxPointsBytes << "a points file holds";
        return false;
    }
    for (qsizetype i = 0; i < frequencies.size(); ++i) {
        const QList<float> &point = frequencies.at(i);
        if (!validValueCount(point.size())) {
            sntWarning(lcStore, "[Store]")
                    << "a point of" << point.size() << "values cannot be kept in a points file";
            return false;
        }
        const Values values = checkValues(point, pointList(levels, i), pointList(phases, i),
                                          pointList(coherences, i), kMaxMagnitude);
        if (values != Values::Plausible) {
            sntWarning(lcStore, "[Store]") << "point" << i + 1 << whyRefused(values);
            return false;
        }
    }
    return true;
}

bool writePoints(QIODevice &device, const QList<QList<float>> &frequencies,
                 const QList<QList<float>> &levels, const QList<QList<float>> &phases,
                 const QList<QList<float>> &coherences)
{
    if (!store::writeAll(device, kPointsMagic, kMagicSize)
        || !writeInt32(device, qint32(frequencies.size())))
        return false;
    for (qsizetype i = 0; i < frequencies.size(); ++i) {
        const qsizetype n = frequencies.at(i).size();
        if (!writeInt32(device, qint32(n)) || !writeFloatArray(device, frequencies.at(i), n)
            || !writeFloatArray(device, pointList(levels, i), n)
            || !writeFloatArray(device, pointList(phases, i), n)
            || !writeFloatArray(device, pointList(coherences, i), n))
            return false;
    }
    return true;
}

} // namespace

bool writeRawFile(CurvePack &pack)
{
    if (!presentCapture(pack.freq, pack.level)
        || !readableCapture(pack.freq, pack.level, pack.phase, pack.coherence, "capture"))
        return false;
    if (!writeCaptureFile(pack.rawFile, pack.freq, pack.level, pack.phase, pack.coherence))
        return false;
    pack.rawPoints = int(pack.freq.size());
    if (!presentCapture(pack.freq2, pack.level2))
        return true;
    if (!readableCapture(pack.freq2, pack.level2, pack.phase2, pack.coherence2, "second capture")
        || !writeCaptureFile(pack.rawFile2, pack.freq2, pack.level2, pack.phase2, pack.coherence2))
        return false;
    pack.rawPoints2 = int(pack.freq2.size());
    return true;
}

bool readRawFile(CurvePack &pack, QString *refusal)
{
    if (!pack.freq.isEmpty() && (pack.rawFile2.isEmpty() || !pack.freq2.isEmpty()))
        return true;
    if (pack.freq.isEmpty()) {
        if (pack.rawFile.isEmpty())
            return false;
        if (!readCaptureFile(pack.rawFile, pack.freq, pack.level, pack.phase, pack.coherence,
                             pack.rawPoints, refusal))
            return false;
    }
    if (pack.freq2.isEmpty() && !pack.rawFile2.isEmpty()) {
        readCaptureFile(pack.rawFile2, pack.freq2, pack.level2, pack.phase2, pack.coherence2,
                        pack.rawPoints2, refusal);
    }
    return true;
}

bool writePointsFile(CurvePack &pack, const QList<QList<float>> &frequencies,
                     const QList<QList<float>> &levels, const QList<QList<float>> &phases,
                     const QList<QList<float>> &coherences)
{
    if (frequencies.isEmpty()) {
        pack.pointsFile.clear();
        pack.pointCount = 0;
        return false;
    }
    if (!readablePoints(frequencies, levels, phases, coherences))
        return false;
    if (!store::isPlainFileName(pack.pointsFile)) {
        // Each pack gets a file of its own: packs without a capture have no raw name to derive
        // one from, and must not share a single ".points" file.
        pack.pointsFile = store::isPlainFileName(pack.rawFile)
                                  ? pack.rawFile + QStringLiteral(".points")
                                  : newFileName(".points");
    }
    if (!store::saveAtomically(rawPath(pack.pointsFile), [&](QIODevice &device) {
            return writePoints(device, frequencies, levels, phases, coherences);
        }))
        return false;
    pack.pointCount = int(frequencies.size());
    return true;
}

bool readPointsFile(CurvePack &pack, QString *refusal)
{
    if (!pack.pointFreq.isEmpty())
        return true;
    if (pack.pointCount < 1 || pack.pointsFile.isEmpty())
        return false;
    QFile file;
    qint32 count = 0;
    if (!openCaptureFile(file, pack.pointsFile, kPointsMagic, kMaxPointsBytes, refusal)
        || !readInt32(file, count) || count < 1 || count > kMaxPoints)
        return false;
    for (qint32 i = 0; i < count; ++i) {
        qint32 n = 0;
        QList<float> freq, level, phase, coherence;
        if (!readInt32(file, n) || !validValueCount(n)
            || !readFourArrays(file, pack.pointsFile, n, kMaxMagnitude, freq, level, phase,
                               coherence, refusal)) {
            pack.pointFreq.clear();
            pack.pointLevel.clear();
            pack.pointPhase.clear();
            pack.pointCoherence.clear();
            return false;
        }
        pack.pointFreq.append(freq);
        pack.pointLevel.append(level);
        pack.pointPhase.append(phase);
        pack.pointCoherence.append(coherence);
    }
    pack.pointCount = count;
    return true;
}

bool readFloatArray(QIODevice &device, QList<float> &values, qsizetype n)
{
    values.fill(0.0f, n);
    const qint64 bytes = qint64(n) * qint64(sizeof(float));
    if (device.read(reinterpret_cast<char *>(values.data()), bytes) != bytes)
        return false;
    qFromLittleEndian<float>(values.constData(), n, values.data());
    return true;
}
