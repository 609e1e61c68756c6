#include "startup/IndentedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace snt::startup {

namespace {

constexpr int indentWidth = 4;
// Above this a double no longer holds every whole number, and the reader's form changes.
constexpr double largestWholeNumber = 9007199254740992.0; // 2^53

void indent(QByteArray &out, int level)
{
    out.append(qsizetype(level) * indentWidth, ' ');
}

// std::to_chars: no allocation, and for doubles the shortest digits that read back the same
// number, in fixed or scientific form, whichever is shorter, which is Qt's own form below 2^53.
template<typename Number>
void appendChars(QByteArray &out, Number value)
{
    std::array<char, 32> text;
    const std::to_chars_result end = std::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), end.ptr - text.data());
}

void appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value))
        out += "null";
    else if (std::abs(value) > largestWholeNumber) // Qt writes zeros past the shortest digits
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    else if (std::trunc(value) == value)
        appendChars(out, qint64(value));
    else
        appendChars(out, value);
}

bool needsNoEscape(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\';
    });
}

// Keys and plain words are written as they are; any other string's escapes are left to Qt's
// own writer (such strings are few: names and messages).
void appendString(QByteArray &out, const QString &text)
{
    if (needsNoEscape(text)) {
        out += '"';
        for (const QChar c : text)
            out += char(c.unicode());
        out += '"';
        return;
    }
    const QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    out += QByteArrayView(quoted).sliced(1, quoted.size() - 2);
}

void appendMap(QByteArray &out, const QVariantMap &map, int level)
{
    out += "{\n";
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        indent(out, level + 1);
        appendString(out, it.key());
        out += ": ";
        appendIndentedJson(out, it.value(), level + 1);
        out += std::next(it) == map.cend() ? "\n" : ",\n";
    }
    indent(out, level);
    out += '}';
}

void appendList(QByteArray &out, const QVariantList &list, int level)
{
    out += "[\n";
    for (qsizetype i = 0; i < list.size(); ++i) {
        indent(out, level + 1);
        appendIndentedJson(out, list[i], level + 1);
        out += i + 1 == list.size() ? "\n" : ",\n";
    }
    indent(out, level);
    out += ']';
}

} // namespace

void appendIndentedJson(QByteArray &out, const QVariant &value, int level)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        appendMap(out, value.toMap(), level);
        return;
    case QMetaType::QVariantList:
        appendList(out, value.toList(), level);
        return;
    case QMetaType::QString:
        appendString(out, value.toString());
        return;
    case QMetaType::Bool:
        out += value.toBool() ? "true" : "false";
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        appendChars(out, value.toLongLong());
        return;
    case QMetaType::Float:
    case QMetaType::Double:
        appendNumber(out, value.toDouble());
        return;
    default:
        out += "null";
    }
}

} // namespace snt::startup
