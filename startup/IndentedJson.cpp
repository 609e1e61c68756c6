#include "startup/IndentedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace snt::startup {

namespace {

constexpr int indentWidth = 4;
// Above this a double no longer holds every whole number, and the reader's form changes.
constexpr double largestWholeNumber = 9007199254740992.0; // 2^53

// The text is put together in a std::string, whose small appends are inlined, and handed to the
// caller's array once.
void appendValue(std::string &out, const QVariant &value, int level);

void indent(std::string &out, int level)
{
    out.append(size_t(level) * indentWidth, ' ');
}

// std::to_chars: no allocation, and for doubles the shortest digits that read back the same
// number, in fixed or scientific form, whichever is shorter, which is Qt's own form below 2^53.
template<typename Number>
void appendChars(std::string &out, Number value)
{
    std::array<char, 32> text;
    const std::to_chars_result end = std::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), end.ptr);
}

void appendNumber(std::string &out, double value)
{
    if (!std::isfinite(value))
        out += "null";
    else if (std::abs(value) > largestWholeNumber) // Qt writes zeros past the shortest digits
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
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
void appendString(std::string &out, const QString &text)
{
    if (needsNoEscape(text)) {
        out += '"';
        for (const QChar c : text)
            out += char(c.unicode());
        out += '"';
        return;
    }
    const QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    out.append(quoted.constData() + 1, size_t(quoted.size() - 2));
}

void appendMap(std::string &out, const QVariantMap &map, int level)
{
    out += "{\n";
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        indent(out, level + 1);
        appendString(out, it.key());
        out += ": ";
        appendValue(out, it.value(), level + 1);
        out += std::next(it) == map.cend() ? "\n" : ",\n";
    }
    indent(out, level);
    out += '}';
}

void appendList(std::string &out, const QVariantList &list, int level)
{
    out += "[\n";
    for (qsizetype i = 0; i < list.size(); ++i) {
        indent(out, level + 1);
        appendValue(out, list[i], level + 1);
        out += i + 1 == list.size() ? "\n" : ",\n";
    }
    indent(out, level);
    out += ']';
}

// Maps and lists are read in place, not copied out of their variants.
void appendValue(std::string &out, const QVariant &value, int level)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        appendMap(out, *static_cast<const QVariantMap *>(value.constData()), level);
        return;
    case QMetaType::QVariantList:
        appendList(out, *static_cast<const QVariantList *>(value.constData()), level);
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

} // namespace

void appendIndentedJson(QByteArray &out, const QVariant &value, int level)
{
    std::string text;
    appendValue(text, value, level);
    out.append(text.data(), qsizetype(text.size()));
}

} // namespace snt::startup
