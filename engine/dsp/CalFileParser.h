#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Reads a microphone or sound-card calibration text file: one point per line, frequency in Hz
// then gain in dB, separated by tabs, commas or white space; further columns are ignored; lines
// that do not start with a digit, "-" or "+" are comments. A data line is refused (and counted)
// unless both its numbers are finite, the frequency is above 0 and the gain within ±200 dB.
class CalFileParser
{
public:
    // (frequency in Hz, gain in dB)
    using Point = QPair<float, float>;

    struct Result
    {
        bool ok = false;
        QString error; // why not ok, in words for the user
        int skippedLines = 0; // data lines that were refused
        QList<Point> points; // in file order
    };

    static Result parse(const QString &path);

private:
    static bool isDataLine(const QString &line);
    static QStringList fields(const QString &line);
    static bool readPoint(const QStringList &parts, Point &point);
};
