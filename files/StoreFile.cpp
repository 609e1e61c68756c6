#include "files/StoreFile.h"

#include "common/Log.h"
#include "files/StagedFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace store {

bool saveAtomically(const QString &path, const std::function<bool(QIODevice &)> &write)
{
    StagedFiles file;
    return file.stage(path, write) && file.commit() == 1;
}

bool saveAtomically(const QString &path, const QByteArray &content)
{
    StagedFiles file;
    return file.stage(path, content) && file.commit() == 1;
}

bool saveExport(const QString &path, const QByteArray &content)
{
    removeStagingLeftovers(QFileInfo(path).path());
    return saveAtomically(path, content);
}

bool writeAll(QIODevice &device, const char *data, qint64 size)
{
    return device.write(data, size) == size;
}

bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QChar(u'\0')) && QFileInfo(name).fileName() == name;
}

const QRegularExpression &forbiddenNameCharacters()
{
    static const QRegularExpression forbidden(QStringLiteral(R"([\\/:*?"<>|])"));
    return forbidden;
}

QString keepCopyBeside(const QString &path, const QString &kind, const QByteArray &content)
{
    const QFileInfo info(path);
    const QString prefix = info.fileName() + QLatin1Char('.') + kind + QLatin1Char('-');
    // Compared by prefix, not by a name pattern: project names may hold pattern characters.
    const QFileInfoList siblings = info.dir().entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &copy : siblings) {
        if (!copy.fileName().startsWith(prefix) || copy.size() != content.size())
            continue;
        QFile file(copy.filePath());
        if (file.open(QIODevice::ReadOnly) && file.readAll() == content)
            return copy.filePath();
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString first = info.dir().filePath(prefix + stamp);
    QString target = first;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = first + QStringLiteral("-%1").arg(n);
    if (!saveAtomically(target, content)) {
        sntWarning(lcStore, "[Store]") << "could not keep a copy of" << path << "beside it";
        return QString();
    }
    return target;
}

QString localFilePath(const QString &pathOrUrl)
{
    const QUrl url(pathOrUrl);
    return url.isLocalFile() ? url.toLocalFile() : pathOrUrl;
}

} // namespace store
