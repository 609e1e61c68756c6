#pragma once

#include "audio/aes67/Types.h"

#include <QByteArray>
#include <QString>

// The small part of RTSP 1.0 that both directions speak: finding one message in a receive
// buffer, reading requests and responses, and writing them. Header names are compared without
// regard to case; header lists keep their order.
namespace audio::aes67::rtsp {

// What the front of a receive buffer holds.
enum class Parse {
    Incomplete, // the head or the body has not fully arrived
    Complete, // one message, `consumed` bytes long
    Malformed, // a complete head whose start line is not what was expected
    TooLarge, // a Content-Length beyond what the reader accepts
};

// The largest bodies accepted: a device asking the responder, and a device answering the client.
inline constexpr qint64 maxRequestBody = 64 * 1024;
inline constexpr qint64 maxResponseBody = 1024 * 1024;

// The text RTSP gives a status code; empty for codes this system never writes.
QString reasonPhrase(int code);

// The position just after the first CR LF CR LF, else just after the first LF LF, else -1.
qsizetype findHeaderEnd(const QByteArray &bytes);
QString findHeader(const Headers &headers, const QString &name);
// Replaces the first header of that name, or appends one.
void setHeader(Headers &headers, const QString &name, const QString &value);
// Lines of the form "name: value" become headers (name trimmed Latin-1, value trimmed UTF-8);
// other lines are skipped.
void parseHeaderLines(const QList<QByteArray> &lines, Headers &headers);

// One message at the front of a buffer: its start line, headers and body.
struct Message
{
    QByteArray startLine;
    Headers headers;
    QByteArray body;
    qsizetype headLength = 0; // 0 while the head is incomplete
    qint64 contentLength = 0;
};
// Frames a message by its head and Content-Length (0 when absent, unreadable or negative; a
// number too long to read is too large). The start line and headers are filled as soon as the
// head is complete.
Parse splitMessage(const QByteArray &buffer, qint64 maxBody, Message &message);

// Reads one request from the front of `buffer`. On Complete, `consumed` is its length. On
// Malformed, `consumed` is the length of the head, and the request carries the head's headers
// and CSeq so that the answer can name it. On TooLarge, likewise the headers and CSeq.
Parse parseRequest(const QByteArray &buffer, qint64 maxBody, Request &request, qsizetype &consumed);
// Reads one response; a start line without "RTSP/" and a positive status code is Malformed.
Parse parseResponse(const QByteArray &buffer, qint64 maxBody, Response &response,
                    qsizetype &consumed);

// The request's wire form, adding CSeq (from `cseq`) where the headers lack it and, with a body,
// Content-Type "application/sdp" where absent and the body's Content-Length.
QByteArray serializeRequest(const Request &request);
// A response's wire form: the status line, CSeq when above 0, the headers, and Content-Length
// when there is a body.
QByteArray serializeResponse(int code, qint32 cseq, const Headers &headers, const QByteArray &body);

} // namespace audio::aes67::rtsp
