#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QStringList>

namespace audio::aes67::dns {

enum Type : quint16 { A = 1, PTR = 12, TXT = 16, SRV = 33, ANY = 255 };

// A domain name as its labels ("_rtsp", "_tcp", "local"); an instance label may hold dots and
// blanks, so names are never kept as dotted text.
using Name = QStringList;

Name nameFromText(const QString &dotted); // for names whose labels hold no dots
bool sameName(const Name &a, const Name &b); // labels compared without regard to ASCII case

struct Question
{
    Name name;
    quint16 type = PTR;
    bool unicastResponse = false; // the "QU" bit of mDNS
};

struct Record
{
    Name name;
    quint16 type = A;
    bool cacheFlush = false;
    quint32 ttl = 0; // seconds; 0 says goodbye
    Name target; // PTR, SRV
    quint16 priority = 0, weight = 0, port = 0; // SRV
    QList<QByteArray> strings; // TXT
    QHostAddress address; // A
};

struct Message
{
    quint16 id = 0;
    bool response = false;
    QList<Question> questions;
    QList<Record> records; // answers, authority and additional records in that order
};

// Reads a DNS message with name compression. False for truncated data, compression pointers
// that do not point backwards, or names longer than DNS allows.
bool parse(const QByteArray &datagram, Message &message);

// Writes a message without compression. Responses carry every record as an answer.
QByteArray write(const Message &message);

} // namespace audio::aes67::dns
