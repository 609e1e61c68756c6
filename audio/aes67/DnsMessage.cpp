#include "audio/aes67/DnsMessage.h"

#include <QtEndian>

namespace audio::aes67::dns {

namespace {

constexpr int headerBytes = 12;
constexpr int maxNameBytes = 255;
constexpr quint16 responseFlag = 0x8400; // QR and AA: an authoritative answer
constexpr quint16 topBit = 0x8000; // QU in a question, cache-flush in a record
constexpr quint16 classIn = 1;

class Reader
{
public:
    explicit Reader(const QByteArray &data)
        : data_(data)
    { }

    bool ok() const { return ok_; }
    int position() const { return pos_; }
    void skip(int bytes) { need(bytes) ? void(pos_ += bytes) : void(); }

    template<typename T>
    T number()
    {
        if (!need(int(sizeof(T))))
            return 0;
        const T value = qFromBigEndian<T>(data_.constData() + pos_);
        pos_ += int(sizeof(T));
        return value;
    }

    QByteArray bytes(int count)
    {
        if (!need(count))
            return QByteArray();
        pos_ += count;
        return data_.mid(pos_ - count, count);
    }

    // A name at the current position; compression pointers must point before the label that
    // holds them, so every jump goes backwards and a loop is impossible.
    Name name()
    {
        Name labels;
        int at = pos_, length = 0;
        bool jumped = false;
        for (;;) {
            if (at >= data_.size())
                return fail();
            const auto len = quint8(data_.at(at));
            if (len == 0) {
                if (!jumped)
                    pos_ = at + 1;
                return labels;
            }
            if ((len & 0xC0) == 0xC0) {
                if (at + 1 >= data_.size())
                    return fail();
                const int target = ((len & 0x3F) << 8) | quint8(data_.at(at + 1));
                if (target >= at)
                    return fail();
                if (!jumped)
                    pos_ = at + 2;
                jumped = true;
                at = target;
                continue;
            }
            if ((len & 0xC0) || at + 1 + len > data_.size() || (length += len + 1) > maxNameBytes)
                return fail();
            labels.append(QString::fromUtf8(data_.constData() + at + 1, len));
            at += 1 + len;
        }
    }

private:
    bool need(int bytes)
    {
        ok_ = ok_ && bytes >= 0 && pos_ + bytes <= data_.size();
        return ok_;
    }
    Name fail()
    {
        ok_ = false;
        return Name();
    }

    const QByteArray &data_;
    int pos_ = 0;
    bool ok_ = true;
};

void readRecordData(Reader &reader, Record &record, int length)
{
    const int end = reader.position() + length;
    switch (record.type) {
    case A:
        if (length == 4)
            record.address = QHostAddress(reader.number<quint32>());
        break;
    case PTR:
        record.target = reader.name();
        break;
    case SRV:
        record.priority = reader.number<quint16>();
        record.weight = reader.number<quint16>();
        record.port = reader.number<quint16>();
        record.target = reader.name();
        break;
    case TXT:
        while (reader.ok() && reader.position() < end) {
            const QByteArray string = reader.bytes(reader.number<quint8>());
            if (!string.isEmpty())
                record.strings.append(string);
        }
        break;
    default:
        break;
    }
    reader.skip(end - reader.position());
}

void writeName(QByteArray &out, const Name &name)
{
    for (const QString &label : name) {
        const QByteArray bytes = label.toUtf8().left(63);
        out.append(char(bytes.size()));
        out.append(bytes);
    }
    out.append('\0');
}

template<typename T>
void writeNumber(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, int(sizeof(T)));
}

QByteArray recordData(const Record &record)
{
    QByteArray data;
    switch (record.type) {
    case A:
        writeNumber(data, record.address.toIPv4Address());
        break;
    case PTR:
        writeName(data, record.target);
        break;
    case SRV:
        writeNumber(data, record.priority);
        writeNumber(data, record.weight);
        writeNumber(data, record.port);
        writeName(data, record.target);
        break;
    case TXT:
        for (const QByteArray &string : record.strings) {
            data.append(char(qMin(string.size(), qsizetype(255))));
            data.append(string.left(255));
        }
        if (data.isEmpty())
            data.append('\0'); // an empty TXT record still holds one empty string
        break;
    default:
        break;
    }
    return data;
}

} // namespace

Name nameFromText(const QString &dotted)
{
    return dotted.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}

bool sameName(const Name &a, const Name &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).compare(b.at(i), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

bool parse(const QByteArray &datagram, Message &message)
{
    message = Message();
    Reader reader(datagram);
    message.id = reader.number<quint16>();
    message.response = reader.number<quint16>() & topBit;
    const int questions = reader.number<quint16>();
    const int records
            = reader.number<quint16>() + reader.number<quint16>() + reader.number<quint16>();
    for (int i = 0; i < questions && reader.ok(); ++i) {
        Question q;
        q.name = reader.name();
        q.type = reader.number<quint16>();
        q.unicastResponse = reader.number<quint16>() & topBit;
        message.questions.append(q);
    }
    for (int i = 0; i < records && reader.ok(); ++i) {
        Record r;
        r.name = reader.name();
        r.type = reader.number<quint16>();
        r.cacheFlush = reader.number<quint16>() & topBit;
        r.ttl = reader.number<quint32>();
        const int length = reader.number<quint16>();
        if (reader.position() + length > datagram.size())
            return false;
        readRecordData(reader, r, length);
        message.records.append(r);
    }
    return reader.ok() && datagram.size() >= headerBytes;
}

QByteArray write(const Message &message)
{
    QByteArray out;
    writeNumber(out, message.id);
    writeNumber(out, quint16(message.response ? responseFlag : 0));
    writeNumber(out, quint16(message.questions.size()));
    writeNumber(out, quint16(message.records.size()));
    writeNumber(out, quint16(0));
    writeNumber(out, quint16(0));
    for (const Question &q : message.questions) {
        writeName(out, q.name);
        writeNumber(out, q.type);
        writeNumber(out, quint16(classIn | (q.unicastResponse ? topBit : 0)));
    }
    for (const Record &r : message.records) {
        writeName(out, r.name);
        writeNumber(out, r.type);
        writeNumber(out, quint16(classIn | (r.cacheFlush ? topBit : 0)));
        writeNumber(out, r.ttl);
        const QByteArray data = recordData(r);
        writeNumber(out, quint16(data.size()));
        out.append(data);
    }
    return out;
}

} // namespace audio::aes67::dns
