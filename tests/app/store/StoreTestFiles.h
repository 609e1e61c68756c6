#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

// Plain file access for the store tests, independent of the store's own writing code.
inline bool putBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QList<float> ramp(qsizetype n, float start, float step = 1.0f)
{
    QList<float> values(n);
    for (qsizetype i = 0; i < n; ++i)
        values[i] = start + step * float(i);
    return values;
}
