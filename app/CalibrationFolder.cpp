#include "app/CalibrationFolder.h"

#include "files/DataFolder.h"
#include "files/StoreFile.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString importValue = QStringLiteral("__import__");

QString subFolder(int kind)
{
    return kind == CalibrationFolder::Microphone ? QStringLiteral("测量麦")
                                                 : QStringLiteral("手雷");
}

QString namePrefix(int kind)
{
    return subFolder(kind) + QLatin1Char('_');
}

QVariantMap pickerEntry(const QString &value, const QString &label)
{
    return {{QStringLiteral("value"), value},
            {QStringLiteral("label"), label},
            {QStringLiteral("short"), label}};
}

// The calibration files of `kind` anywhere below the folder, sorted by file name as the user's
// language sorts them.
QFileInfoList filesOfKind(int kind)
{
    const QDir folder(CalibrationFolder::path());
    QFileInfoList files;
    QDirIterator it(folder.path(),
                    {QStringLiteral("*.txt"), QStringLiteral("*.cal"), QStringLiteral("*.csv")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        if (folder.relativeFilePath(file.filePath()).startsWith(subFolder(kind) + QLatin1Char('/'))
            || file.fileName().startsWith(namePrefix(kind)))
            files.append(file);
    }
    const QCollator collator;
    std::sort(files.begin(), files.end(), [&collator](const QFileInfo &a, const QFileInfo &b) {
        return collator.compare(a.fileName(), b.fileName()) < 0;
    });
    return files;
}

// One path per file name without case: the sub-folder's copy or the current file wins.
QMap<QString, QString> pathsByName(int kind, const QString &current)
{
    QMap<QString, QString> paths;
    const QString inSubFolder = QLatin1Char('/') + subFolder(kind) + QLatin1Char('/');
    for (const QFileInfo &file : filesOfKind(kind)) {
        const QString key = file.fileName().toLower();
        const QString path = file.absoluteFilePath();
        if (!paths.contains(key) || path == current || path.contains(inSubFolder))
            paths.insert(key, path);
    }
    if (!current.isEmpty()) {
        const QString key = QFileInfo(current).fileName().toLower();
        if (!paths.contains(key) || QFileInfo::exists(current))
            paths.insert(key, current);
    }
    return paths;
}

QString numberedName(const QFileInfo &source, int n)
{
    const QString numbered = QStringLiteral("%1 (%2)").arg(source.completeBaseName()).arg(n);
    return source.suffix().isEmpty() ? numbered : numbered + QLatin1Char('.') + source.suffix();
}

bool holds(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.size() == content.size() && file.open(QIODevice::ReadOnly)
           && file.readAll() == content;
}

} // namespace

QString CalibrationFolder::path()
{
    return documentsRoot() + QStringLiteral("/校准");
}

QVariantList CalibrationFolder::pickerEntries(int kind, const QString &current)
{
    QVariantList entries{pickerEntry(QString(), QStringLiteral("未选择"))};
    if (kind == Microphone || kind == Second) {
        const QMap<QString, QString> paths = pathsByName(kind, current);
        for (const QString &path : paths) {
            QString label = QFileInfo(path).fileName();
            if (label.startsWith(namePrefix(kind)))
                label.remove(0, namePrefix(kind).size());
            if (path == current && !QFileInfo::exists(path))
                label += QStringLiteral("（文件不存在）");
            entries.append(pickerEntry(path, label));
        }
    }
    entries.append(pickerEntry(importValue, QStringLiteral("导入校准文件…")));
    return entries;
}

QString CalibrationFolder::import(int slot, const QString &source,
                                  const std::function<bool(const QString &)> &usedElsewhere)
{
    const QString folder = path() + QLatin1Char('/') + subFolder(slot == 0 ? Microphone : Second);
    QFile sourceFile(source);
    if (!QDir().mkpath(folder) || !sourceFile.open(QIODevice::ReadOnly))
        return source;
    const QByteArray content = sourceFile.readAll();
    if (sourceFile.error() != QFileDevice::NoError)
        return source;
    const QFileInfo sourceInfo(source);
    QString copy = folder + QLatin1Char('/') + sourceInfo.fileName();
    for (int n = 2; QFileInfo::exists(copy); ++n) {
        // Also the case of a file imported from the folder itself.
        if (holds(copy, content))
            return copy;
        if (!usedElsewhere(copy))
            break;
        copy = folder + QLatin1Char('/') + numberedName(sourceInfo, n);
    }
    return store::saveAtomically(copy, content) ? copy : source;
}
