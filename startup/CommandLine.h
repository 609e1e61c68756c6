#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snt::startup {

// The program's arguments as its options read them. An option is an argument equal to its name
// (case-sensitive); only its first occurrence counts, and one without a value is a switch. Its
// values are the arguments after it, read in one of two ways: a plain value is whatever argument
// stands at that place, a guarded value only one that does not begin with "--" (else the
// option's default applies). Hand-written rather than QCommandLineParser, which knows neither
// rule nor a switch that may also be another option's value.
class CommandLine
{
public:
    explicit CommandLine(QStringList arguments);

    bool has(const QString &option) const;
    // The argument `place` positions after the option's first occurrence, if there is one.
    std::optional<QString> plain(const QString &option, int place = 1) const;
    // The same, unless that argument begins with "--".
    std::optional<QString> guarded(const QString &option, int place = 1) const;

    // Numbers are read as decimal integers or floating-point numbers; text that is not one reads
    // as 0, a missing value as the default.
    static int integer(const std::optional<QString> &value, int fallback);
    static double number(const std::optional<QString> &value, double fallback);

private:
    QStringList arguments_;
};

} // namespace snt::startup
