#pragma once

#include "files/DataFolder.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QVariantMap>

// What the alignment tests read back from disk: text files line by line, and a curve pack with
// its capture files through an independent reader (read_pack.py: Python's json and struct).
namespace alignmenttest {

// The lines of a text file whose every line ends with a line feed.
inline QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    return text.endsWith('\n') ? text.chopped(1).split('\n') : QStringList{text};
}

// {"pack": the pack's object in the root pack file, "first" and "second": its captures as
// {"freq", "level", "phase", "coherence"}, "rawFiles": the capture folder's file names}.
inline QVariantMap readPack(const QString &name)
{
    QProcess reader;
    reader.start(QStringLiteral("python3"), {QFINDTESTDATA("read_pack.py"), documentsRoot(), name});
    if (!reader.waitForFinished(30000) || reader.exitCode() != 0) {
        qWarning() << reader.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object().toVariantMap();
}

} // namespace alignmenttest
