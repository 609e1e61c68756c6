#include "audio/aes67/RtspCodec.h"

namespace audio::aes67::rtsp {

namespace {

const QString contentLengthHeader = QStringLiteral("Content-Length");
const QString contentTypeHeader = QStringLiteral("Content-Type");
const QString cseqHeader = QStringLiteral("CSeq");
constexpr qint64 unreadablyLong = -1;

// The announced body length: 0 when absent, unreadable or negative; unreadablyLong for a
// number that does not fit in 64 bits.
qint64 contentLength(const Headers &headers)
{
    const QString text = findHeader(headers, contentLengthHeader);
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (ok)
        return qMax<qint64>(length, 0);
    const bool digitsOnly = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isDigit();
    });
    return digitsOnly ? unreadablyLong : 0;
}

// The start line split at every single blank, empty parts kept.
QList<QByteArray> startLineParts(const QByteArray &line)
{
    return line.trimmed().split(' ');
}

qint32 cseqOf(const Headers &headers)
{
    return findHeader(headers, cseqHeader).toInt();
}

} // namespace

QString reasonPhrase(int code)
{
    switch (code) {
    case 200:
        return QStringLiteral("OK");
    case 400:
        return QStringLiteral("Bad Request");
    case 404:
        return QStringLiteral("Not Found");
    case 405:
        return QStringLiteral("Method Not Allowed");
    case 454:
        return QStringLiteral("Session Not Found");
    case 455:
        return QStringLiteral("Method Not Valid in This State");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 501:
        return QStringLiteral("Not Implemented");
    default:
        return QString();
    }
}

qsizetype findHeaderEnd(const QByteArray &bytes)
{
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    if (crlf >= 0)
        return crlf + 4;
    const qsizetype lf = bytes.indexOf("\n\n");
    return lf >= 0 ? lf + 2 : -1;
}

QString findHeader(const Headers &headers, const QString &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QString();
}

void setHeader(Headers &headers, const QString &name, const QString &value)
{
    for (auto &[key, existing] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            existing = value;
            return;
        }
    }
    headers.append({name, value});
}

void parseHeaderLines(const QList<QByteArray> &lines, Headers &headers)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 1)
            continue;
        headers.append({QString::fromLatin1(line.left(colon)).trimmed(),
                        QString::fromUtf8(line.mid(colon + 1)).trimmed()});
    }
}

Parse splitMessage(const QByteArray &buffer, qint64 maxBody, Message &message)
{
    const qsizetype headerEnd = findHeaderEnd(buffer);
    if (headerEnd < 0)
        return Parse::Incomplete;
    const bool crlf = buffer.at(headerEnd - 2) == '\r';
    QByteArray head = buffer.left(headerEnd - (crlf ? 4 : 2));
    head.replace("\r\n", "\n");
    QList<QByteArray> lines = head.split('\n');
    message = Message();
    message.startLine = lines.takeFirst();
    parseHeaderLines(lines, message.headers);
    message.headLength = headerEnd;
    message.contentLength = contentLength(message.headers);
    if (message.contentLength == unreadablyLong || message.contentLength > maxBody)
        return Parse::TooLarge;
    // Both terms are bounded (the buffer's size and maxBody), so the sum cannot overflow.
    if (qint64(buffer.size()) < qint64(headerEnd) + message.contentLength)
        return Parse::Incomplete;
    message.body = buffer.mid(headerEnd, qsizetype(message.contentLength));
    return Parse::Complete;
}

Parse parseRequest(const QByteArray &buffer, qint64 maxBody, Request &request, qsizetype &consumed)
{
    Message message;
    const Parse framing = splitMessage(buffer, maxBody, message);
    if (message.headLength == 0)
        return Parse::Incomplete;
    request = Request();
    request.headers = message.headers;
    request.cseq = cseqOf(message.headers);
    const QList<QByteArray> parts = startLineParts(message.startLine);
    if (parts.size() < 3 || !parts.at(2).startsWith("RTSP/")) {
        consumed = message.headLength;
        return Parse::Malformed;
    }
    if (framing != Parse::Complete)
        return framing;
    request.method = QString::fromLatin1(parts.at(0));
    request.url = QString::fromUtf8(parts.at(1));
    request.body = message.body;
    consumed = message.headLength + qsizetype(message.contentLength);
    return Parse::Complete;
}

Parse parseResponse(const QByteArray &buffer, qint64 maxBody, Response &response,
                    qsizetype &consumed)
{
    Message message;
    const Parse framing = splitMessage(buffer, maxBody, message);
    if (message.headLength == 0)
        return Parse::Incomplete;
    response = Response();
    response.headers = message.headers;
    const QList<QByteArray> parts = startLineParts(message.startLine);
    const int status = parts.value(1).toInt();
    if (!message.startLine.trimmed().startsWith("RTSP/") || parts.size() < 2 || status <= 0)
        return Parse::Malformed;
    if (framing != Parse::Complete)
        return framing;
    response.statusCode = status;
    response.reason = QString::fromUtf8(parts.mid(2).join(' ')).trimmed();
    response.body = message.body;
    consumed = message.headLength + qsizetype(message.contentLength);
    return Parse::Complete;
}

QByteArray serializeRequest(const Request &request)
{
    Headers headers = request.headers;
    if (request.cseq >= 1 && findHeader(headers, cseqHeader).isEmpty())
        setHeader(headers, cseqHeader, QString::number(request.cseq));
    if (!request.body.isEmpty()) {
        if (findHeader(headers, contentTypeHeader).isEmpty())
            setHeader(headers, contentTypeHeader, QStringLiteral("application/sdp"));
        setHeader(headers, contentLengthHeader, QString::number(request.body.size()));
    }
    QByteArray out = request.method.toLatin1() + ' ' + request.url.toUtf8() + " RTSP/1.0\r\n";
    for (const auto &[name, value] : std::as_const(headers))
        out += name.toLatin1() + ": " + value.toUtf8() + "\r\n";
    return out + "\r\n" + request.body;
}

QByteArray serializeResponse(int code, qint32 cseq, const Headers &headers, const QByteArray &body)
{
    QByteArray out
            = "RTSP/1.0 " + QByteArray::number(code) + ' ' + reasonPhrase(code).toLatin1() + "\r\n";
    if (cseq > 0)
        out += "CSeq: " + QByteArray::number(cseq) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name.toLatin1() + ": " + value.toUtf8() + "\r\n";
    if (!body.isEmpty())
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return out + "\r\n" + body;
}

} // namespace audio::aes67::rtsp
