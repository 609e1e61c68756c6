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
bool readNumber(QStringView field, float &value)
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

// The fields of a line, separated by runs of the white space a regular expression's \s takes
// (space, tab, line and page breaks); at most `count` of them are wanted.
qsizetype splitFields(QStringView line, QStringView *fields, qsizetype count)
{
    const auto isSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
    };
    qsizetype found = 0;
    for (qsizetype i = 0; i < line.size() && found < count;) {
        while (i < line.size() && isSpace(line[i]))
            ++i;
        const qsizetype start = i;
        while (i < line.size() && !isSpace(line[i]))
            ++i;
        if (i > start)
            fields[found++] = line.sliced(start, i - start);
    }
    return found;
}

void readLine(QStringView line, ImportedCurve &curve)
{
    if (line.startsWith(QChar(0xFEFF)))
        line = line.sliced(1);
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    QStringView fields[4];
    const qsizetype fieldCount = splitFields(line, fields, 4);
    float frequency = 0.0f;
    float level = 0.0f;
    if (fieldCount < 2 || !readNumber(fields[0], frequency) || !readNumber(fields[1], level)
        || frequency <= 0.0f)
        return;
    float phase = 0.0f;
    if (fieldCount < 3 || !readNumber(fields[2], phase))
        phase = 0.0f;
    float coherence = 1.0f;
    if (fieldCount < 4 || !readNumber(fields[3], coherence))
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
    for (const QStringView line : QStringView(text).tokenize(QLatin1Char('\n')))
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
