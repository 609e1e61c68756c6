#include "app/store/CurveTextImport.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

constexpr qsizetype kDelayNoteReach = 200;
constexpr qsizetype kMinLines = 8;

double delayNote(const QString &text)
{
    static const QRegularExpression note(QStringLiteral("Delay:\\s*([0-9.]+)\\s*ms"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = note.match(text.left(kDelayNoteReach));
    if (!match.hasMatch())
        return 0.0;
    bool ok = false;
    const double delay = QLocale::c().toDouble(match.captured(1), &ok);
    return ok ? delay : 0.0;
}

// A finite number in the C format, or nothing. "1,000" is not a number there.
bool readNumber(const QString &field, float &value)
{
    static const QLocale cNumbers = [] {
        QLocale locale = QLocale::c();
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        return locale;
    }();
    bool ok = false;
    value = cNumbers.toFloat(field, &ok);
    return ok && std::isfinite(value);
}

void readLine(QString line, ImportedCurve &curve)
{
    if (line.startsWith(QChar(0xFEFF)))
        line.remove(0, 1);
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    const QStringList fields = line.split(whiteSpace, Qt::SkipEmptyParts);
    float frequency = 0.0f;
    float level = 0.0f;
    if (fields.size() < 2 || !readNumber(fields.at(0), frequency)
        || !readNumber(fields.at(1), level) || frequency <= 0.0f)
        return;
    float phase = 0.0f;
    if (fields.size() < 3 || !readNumber(fields.at(2), phase))
        phase = 0.0f;
    float coherence = 1.0f;
    if (fields.size() < 4 || !readNumber(fields.at(3), coherence))
        coherence = 1.0f;
    curve.freq.append(frequency);
    curve.magnitude.append(std::pow(10.0f, level / 20.0f));
    curve.coherence.append(std::clamp(coherence, 0.0f, 1.0f));
    curve.phase.append(phase);
}

} // namespace

bool importCurveText(const QString &path, ImportedCurve &curve)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    if (text.isEmpty())
        return false;

    ImportedCurve read;
    read.delayMs = delayNote(text);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        readLine(line, read);
    if (read.freq.size() < kMinLines)
        return false;
    unwrapPhase(read.phase);
    curve = std::move(read);
    return true;
}

void unwrapPhase(QList<float> &phase)
{
    // The whole turns are removed at once, from the exact remainders of both values: stepping
    // by 360 would never end on values so large that adding 360 no longer changes them, and
    // subtracting a computed number of turns would lose the fraction of a turn there.
    for (qsizetype i = 1; i < phase.size(); ++i) {
        const double previous = phase.at(i - 1);
        const double current = phase.at(i);
        const double step = current - previous;
        if (step >= -180.0 && step <= 180.0)
            continue;
        double within = std::fmod(std::fmod(current, 360.0) - std::fmod(previous, 360.0), 360.0);
        if (step > 180.0) { // moved down into (-180, 180]
            if (within <= -180.0)
                within += 360.0;
            else if (within > 180.0)
                within -= 360.0;
        } else { // moved up into [-180, 180)
            if (within < -180.0)
                within += 360.0;
            else if (within >= 180.0)
                within -= 360.0;
        }
        phase[i] = float(previous + within);
    }
}
