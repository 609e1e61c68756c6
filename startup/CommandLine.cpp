#include "startup/CommandLine.h"

namespace snt::startup {

namespace {

const QString optionPrefix = QStringLiteral("--");

} // namespace

CommandLine::CommandLine(QStringList arguments)
    : arguments_(std::move(arguments))
{ }

bool CommandLine::has(const QString &option) const
{
    return arguments_.contains(option);
}

std::optional<QString> CommandLine::plain(const QString &option, int place) const
{
    const qsizetype at = arguments_.indexOf(option);
    if (at < 0 || at + place >= arguments_.size())
        return std::nullopt;
    return arguments_[at + place];
}

std::optional<QString> CommandLine::guarded(const QString &option, int place) const
{
    std::optional<QString> value = plain(option, place);
    if (value && value->startsWith(optionPrefix))
        return std::nullopt;
    return value;
}

int CommandLine::integer(const std::optional<QString> &value, int fallback)
{
    return value ? value->toInt() : fallback;
}

double CommandLine::number(const std::optional<QString> &value, double fallback)
{
    return value ? value->toDouble() : fallback;
}

} // namespace snt::startup
