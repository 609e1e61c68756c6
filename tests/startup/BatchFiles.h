#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <cmath>

// Input and result files of the EQ batch, for its tests and benchmark.
namespace snt::test {

// The level of an analog peaking filter (centre f0, gain, Q) at f.
inline double peakingDb(double f, double f0, double gainDb, double q)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double x = f / f0;
    const double real = (1 - x * x) * (1 - x * x);
    return 10.0 * std::log10((real + std::pow(x * a / q, 2)) / (real + std::pow(x / (a * q), 2)));
}

// A curve of `count` points from 20 Hz to 20 kHz, flat but for one resonance.
inline QJsonObject resonanceCurve(const QString &name, double f0, int count = 400)
{
    QJsonArray curve;
    for (int i = 0; i < count; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / double(count - 1));
        curve.append(QJsonArray{f, peakingDb(f, f0, 6.0, 2.0)});
    }
    return {{"name", name}, {"curve", curve}};
}

// Writes a batch input file with these curves; false when it cannot.
inline bool writeBatchInput(const QString &path, const QJsonArray &curves)
{
    QFile file(path);
    const QByteArray json = QJsonDocument(QJsonObject{{"curves", curves}}).toJson();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(json) == json.size();
}

// The independent reader's summary of a result file (read_batch_result.py): per curve its name,
// path and schemes with their deepest cuts; empty, with the reader's complaint logged, when the
// file's form is wrong.
inline QJsonArray readBatchResult(const QString &path)
{
    QProcess reader;
    reader.start("python3", {QFINDTESTDATA("read_batch_result.py"), path});
    reader.waitForFinished(30000);
    if (reader.exitCode() != 0)
        qWarning().noquote() << reader.readAllStandardError();
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
}

} // namespace snt::test
