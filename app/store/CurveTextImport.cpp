#include "app/store/CurveTextImport.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr qsizetype kDelayNoteReach = 200;
constexpr qsizetype kMinLines = 8;
// Levels no measurement gives: ±200 dB is far beyond any real one, as for the calibration files.
// A line past it comes from a broken file; its magnitude could not even be held (10^50 for
// 1000 dB) and would reach the EQ computation.
constexpr float kMaxLevelDb = 200.0f;

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

// A plain decimal number ("-12.5", "1e+06", "0.123457": an optional minus, digits, optionally
// a point and digits, optionally an exponent) read with std::from_chars, far quicker than
// QLocale. Both round the decimal to the nearest double, so within the range where QLocale's
// float conversion does no more than round it again (well inside float's), the values are the
// same; anything else is left to QLocale.
bool readPlainDecimal(QStringView field, double &value)
{
    constexpr double farInside = 1e30; // float reaches 3.4e38 up, 1.2e-38 down
    char text[32];
    const qsizetype n = field.size();
    if (n == 0 || n > qsizetype(sizeof text))
        return false;
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < n && field[i] >= u'0' && field[i] <= u'9')
            ++i;
        return i > start;
    };
    if (field[0] == u'-')
        ++i;
    if (!digits())
        return false;
    if (i < n && field[i] == u'.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < n && (field[i] == u'e' || field[i] == u'E')) {
        ++i;
        if (i < n && (field[i] == u'+' || field[i] == u'-'))
            ++i;
        if (!digits())
            return false;
    }
    if (i != n)
        return false;
    for (qsizetype k = 0; k < n; ++k)
        text[k] = char(field[k].unicode());
    const auto [end, error] = std::from_chars(text, text + n, value);
    return error == std::errc() && end == text + n
           && (value == 0.0
               || (std::abs(value) >= 1.0 / farInside && std::abs(value) <= farInside));
}

// A finite number in the C format, or nothing. "1,000" is not a number there.
bool readNumber(QStringView field, float &value)
{
    double plain = 0.0;
    if (readPlainDecimal(field, plain)) {
        value = float(plain);
        return true;
    }
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
        || frequency <= 0.0f || std::abs(level) > kMaxLevelDb)
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
