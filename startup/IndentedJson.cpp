#include "startup/IndentedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPointF>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace snt::startup {

namespace {

constexpr int indentWidth = 4;
// Above this a double no longer holds every whole number, and the reader's form changes.
constexpr double largestWholeNumber = 9007199254740992.0; // 2^53

bool needsNoEscape(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\';
    });
}

// The text of one value. It is put together in a std::string, whose small appends are inlined,
// and handed to the caller's array once. Numbers are most of the work, so none is written twice
// where its text can be copied: a point list that stands in the value more than once at one level
// (the batch gives a scheme's curves under two names) is written once, and point lists drawn on
// one frequency grid (every curve of a preview) copy each frequency from the list before.
class IndentedWriter
{
public:
    // Writes into `text`, emptied first.
    explicit IndentedWriter(std::string &text)
        : text_(text)
    {
        text_.clear();
    }
    void value(const QVariant &value, int level);

private:
    struct WrittenList
    {
        const QPointF *data;
        qsizetype size;
        int level;
        size_t begin;
        size_t end;
    };
    // A number of the last point list at one position, and where its text stands.
    struct WrittenNumber
    {
        double value;
        size_t begin;
        size_t end;
    };

    void indent(int level) { text_.append(size_t(level) * indentWidth, ' '); }
    template<typename Number>
    void chars(Number value);
    void number(double value);
    void string(const QString &text);
    void map(const QVariantMap &map, int level);
    template<typename List, typename Item>
    void list(const List &list, int level, Item item);
    void point(const QPointF &point, int level);
    void frequency(double value);
    void points(const QList<QPointF> &points, int level);

    std::string &text_;
    std::vector<WrittenList> writtenLists_;
    std::vector<WrittenNumber> frequencies_; // of the last point list written
    size_t nextPoint_ = 0; // the position in the point list being written
};

// std::to_chars: no allocation, and for doubles the shortest digits that read back the same
// number, in fixed or scientific form, whichever is shorter, which is Qt's own form below 2^53.
template<typename Number>
void IndentedWriter::chars(Number value)
{
    std::array<char, 32> text;
    const std::to_chars_result end = std::to_chars(text.data(), text.data() + text.size(), value);
    text_.append(text.data(), end.ptr);
}

void IndentedWriter::number(double value)
{
    if (!std::isfinite(value))
        text_ += "null";
    else if (std::abs(value) > largestWholeNumber) // Qt writes zeros past the shortest digits
        text_ += QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
    else if (std::trunc(value) == value)
        chars(qint64(value));
    else
        chars(value);
}

// Keys and plain words are written as they are; any other string's escapes are left to Qt's
// own writer (such strings are few: names and messages).
void IndentedWriter::string(const QString &text)
{
    if (needsNoEscape(text)) {
        text_ += '"';
        for (const QChar c : text)
            text_ += char(c.unicode());
        text_ += '"';
        return;
    }
    const QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    text_.append(quoted.constData() + 1, size_t(quoted.size() - 2));
}

void IndentedWriter::map(const QVariantMap &map, int level)
{
    text_ += "{\n";
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        indent(level + 1);
        string(it.key());
        text_ += ": ";
        value(it.value(), level + 1);
        text_ += std::next(it) == map.cend() ? "\n" : ",\n";
    }
    indent(level);
    text_ += '}';
}

template<typename List, typename Item>
void IndentedWriter::list(const List &list, int level, Item item)
{
    text_ += "[\n";
    for (qsizetype i = 0; i < list.size(); ++i) {
        indent(level + 1);
        (this->*item)(list[i], level + 1);
        text_ += i + 1 == list.size() ? "\n" : ",\n";
    }
    indent(level);
    text_ += ']';
}

// A chart point as the map {"d": y, "f": x} it stands for.
void IndentedWriter::point(const QPointF &point, int level)
{
    text_ += "{\n";
    indent(level + 1);
    text_ += "\"d\": ";
    number(point.y());
    text_ += ",\n";
    indent(level + 1);
    text_ += "\"f\": ";
    frequency(point.x());
    text_ += '\n';
    indent(level);
    text_ += '}';
}

// Equal numbers have equal texts (0 and -0 are both written "0").
void IndentedWriter::frequency(double value)
{
    const size_t position = nextPoint_++;
    if (position < frequencies_.size() && frequencies_[position].value == value) {
        const WrittenNumber &written = frequencies_[position];
        text_.append(text_, written.begin, written.end - written.begin);
        return;
    }
    const size_t begin = text_.size();
    number(value);
    const WrittenNumber written{value, begin, text_.size()};
    if (position < frequencies_.size())
        frequencies_[position] = written;
    else
        frequencies_.push_back(written);
}

void IndentedWriter::points(const QList<QPointF> &points, int level)
{
    const auto written = std::find_if(
            writtenLists_.cbegin(), writtenLists_.cend(), [&](const WrittenList &list) {
                return list.data == points.constData() && list.size == points.size()
                       && list.level == level;
            });
    if (written != writtenLists_.cend()) {
        text_.append(text_, written->begin, written->end - written->begin);
        return;
    }
    const size_t begin = text_.size();
    nextPoint_ = 0;
    list(points, level, &IndentedWriter::point);
    writtenLists_.push_back({points.constData(), points.size(), level, begin, text_.size()});
}

// Maps and lists are read in place, not copied out of their variants.
void IndentedWriter::value(const QVariant &value, int level)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        map(*static_cast<const QVariantMap *>(value.constData()), level);
        return;
    case QMetaType::QVariantList:
        list(*static_cast<const QVariantList *>(value.constData()), level, &IndentedWriter::value);
        return;
    case QMetaType::QString:
        string(value.toString());
        return;
    case QMetaType::Bool:
        text_ += value.toBool() ? "true" : "false";
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        chars(value.toLongLong());
        return;
    case QMetaType::Float:
    case QMetaType::Double:
        number(value.toDouble());
        return;
    default:
        if (value.metaType() == QMetaType::fromType<QList<QPointF>>())
            points(*static_cast<const QList<QPointF> *>(value.constData()), level);
        else
            text_ += "null";
    }
}

} // namespace

void appendIndentedJson(QByteArray &out, const QVariant &value, int level)
{
    // A batch result's text runs to hundreds of kilobytes: its buffer is kept from one call to the
    // next, so that it neither grows step by step nor meets fresh pages again.
    thread_local std::string text;
    IndentedWriter(text).value(value, level);
    out.append(text.data(), qsizetype(text.size()));
}

} // namespace snt::startup
