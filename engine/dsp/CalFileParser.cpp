#include "engine/dsp/CalFileParser.h"

#include "common/Log.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <cmath>

namespace {

const char *const tag = "[CalFileParser]";
constexpr int minimumPoints = 2;
// Microphone and sound-card corrections are a few dB, a few tens at the very most. ±200 dB is far
// beyond any real one and still keeps the gain of two such files added, 10^(400/20), well inside
// single precision; a value past it comes from a broken file, not from a calibration.
constexpr float maxGainDb = 200.0f;

} // namespace

CalFileParser::Result CalFileParser::parse(const QString &path)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        result.error = QStringLiteral("无法打开文件: %1").arg(path);
        return result;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    // A byte-order mark is dropped by hand on the first line, so keep the stream from eating it.
    in.setAutoDetectUnicode(false);

    int lineNumber = 0;
    bool firstLine = true;
    while (!in.atEnd()) {
        const QString raw = in.readLine();
        ++lineNumber;
        QString line = raw.trimmed();
        if (firstLine) {
            if (line.isEmpty())
                continue;
            firstLine = false;
            if (line.startsWith(QChar(0xFEFF)))
                line = line.mid(1).trimmed();
        }
        if (!isDataLine(line))
            continue;
        Point point;
        if (readPoint(fields(line), point)) {
            result.points.append(point);
        } else {
            sntWarning(lcCalibration, tag) << "Skipping line" << lineNumber << ":" << line;
            ++result.skippedLines;
        }
    }

    if (result.points.size() < minimumPoints) {
        result.error = QStringLiteral("校准文件至少需要 2 个数据点");
        return result;
    }
    result.ok = true;
    return result;
}

bool CalFileParser::isDataLine(const QString &line)
{
    if (line.isEmpty())
        return false;
    const QChar first = line.front();
    return (first >= QLatin1Char('0') && first <= QLatin1Char('9')) || first == QLatin1Char('-')
           || first == QLatin1Char('+');
}

QStringList CalFileParser::fields(const QString &line)
{
    if (line.contains(QLatin1Char('\t')))
        return line.split(QLatin1Char('\t'), Qt::SkipEmptyParts);
    if (line.contains(QLatin1Char(',')))
        return line.split(QLatin1Char(','), Qt::SkipEmptyParts);
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    return line.split(whiteSpace, Qt::SkipEmptyParts);
}

bool CalFileParser::readPoint(const QStringList &parts, Point &point)
{
    if (parts.size() < 2)
        return false;
    bool frequencyOk = false;
    bool gainOk = false;
    const float frequency = parts[0].trimmed().toFloat(&frequencyOk);
    const float gain = parts[1].trimmed().toFloat(&gainOk);
    // The number reader also takes "inf" and "nan"; such a point, or a gain no calibration has,
    // would poison every gain interpolated from it, so it counts as a refused line.
    if (!frequencyOk || !gainOk || !std::isfinite(frequency) || !std::isfinite(gain)
        || frequency <= 0.0f || std::abs(gain) > maxGainDb)
        return false;
    point = Point(frequency, gain);
    return true;
}
