#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QtEndian>
#include <cstring>

// PTP version 2 messages written from the IEEE 1588-2008 layout, for feeding the clock the way
// a master on the network would. Independent of the program's parser.
namespace ptpwire {

struct Port
{
    QByteArray identity; // 8 bytes
    quint16 number = 1;
};

inline QByteArray header(quint8 type, int length, quint8 domain, quint16 flags, qint64 correction,
                         const Port &source, quint16 sequence, quint8 control)
{
    QByteArray m(length, '\0');
    char *p = m.data();
    p[0] = char(type);
    p[1] = 2;
    qToBigEndian(quint16(length), p + 2);
    p[4] = char(domain);
    qToBigEndian(flags, p + 6);
    qToBigEndian(correction, p + 8);
    memcpy(p + 20, source.identity.constData(), 8);
    qToBigEndian(source.number, p + 28);
    qToBigEndian(sequence, p + 30);
    p[32] = char(control);
    return m;
}

// Any 48-bit seconds and 32-bit nanoseconds, real or not.
inline void putRawTimestamp(QByteArray &m, int offset, quint64 seconds, quint32 nanoseconds)
{
    qToBigEndian(quint16(seconds >> 32), m.data() + offset);
    qToBigEndian(quint32(seconds), m.data() + offset + 2);
    qToBigEndian(nanoseconds, m.data() + offset + 6);
}

inline void putTimestamp(QByteArray &m, int offset, qint64 ns)
{
    putRawTimestamp(m, offset, quint64(ns / 1'000'000'000), quint32(ns % 1'000'000'000));
}

// correctionNs goes into correctionField as nanoseconds times 2^16.
inline QByteArray sync(const Port &source, quint16 sequence, qint64 originNs, bool twoStep,
                       qint64 correctionNs = 0, quint8 domain = 0)
{
    QByteArray m = header(0, 44, domain, twoStep ? 0x0200 : 0, correctionNs * 65536, source,
                          sequence, 0);
    putTimestamp(m, 34, twoStep ? 0 : originNs);
    return m;
}

inline QByteArray followUp(const Port &source, quint16 sequence, qint64 preciseOriginNs,
                           qint64 correctionNs = 0, quint8 domain = 0)
{
    QByteArray m = header(8, 44, domain, 0, correctionNs * 65536, source, sequence, 2);
    putTimestamp(m, 34, preciseOriginNs);
    return m;
}

inline QByteArray delayResp(const Port &source, quint16 sequence, qint64 receiveNs,
                            const Port &requester, quint8 domain = 0)
{
    QByteArray m = header(9, 54, domain, 0, 0, source, sequence, 3);
    putTimestamp(m, 34, receiveNs);
    memcpy(m.data() + 44, requester.identity.constData(), 8);
    qToBigEndian(requester.number, m.data() + 52);
    return m;
}

struct Quality
{
    quint8 priority1 = 128;
    quint8 clockClass = 248;
    quint8 clockAccuracy = 0xFE;
    quint16 variance = 0xFFFF;
    quint8 priority2 = 128;
};

// `logInterval` is the master's announce interval, log2 of seconds.
inline QByteArray announce(const Port &source, quint16 sequence, const Quality &q,
                           quint8 domain = 0, qint8 logInterval = 1)
{
    QByteArray m = header(11, 64, domain, 0, 0, source, sequence, 5);
    char *p = m.data();
    p[33] = char(logInterval);
    qToBigEndian(qint16(37), p + 44);
    p[47] = char(q.priority1);
    p[48] = char(q.clockClass);
    p[49] = char(q.clockAccuracy);
    qToBigEndian(q.variance, p + 50);
    p[52] = char(q.priority2);
    memcpy(p + 53, source.identity.constData(), 8);
    p[63] = char(0xA0);
    return m;
}

} // namespace ptpwire
Q_DECLARE_METATYPE(ptpwire::Quality)
