#include "startup/BatchResultFile.h"

#include "common/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <filesystem>
#include <system_error>

namespace snt::startup {

namespace {

const QByteArray closing = "\n]\n";
// What a spare's name adds to the file's, before a random part.
const QString spareMark = QStringLiteral(".spare-");
constexpr int maxNameAttempts = 16;

std::filesystem::path fsPath(const QString &name)
{
    return std::filesystem::path(name.toStdU16String());
}

} // namespace

BatchResultFile::BatchResultFile(QString path)
    : path_(std::move(path))
{
    removeStaleSpares();
}

BatchResultFile::~BatchResultFile()
{
    discardSpare();
}

bool BatchResultFile::append(const QByteArray &entryText)
{
    entries_.append(entryText);
    if (!bringUpToDate(spare_)) {
        discardSpare();
        if (!createCopy(spare_))
            return false;
    }
    // The copy the file holds now stays, under a second name, as the next spare; a name that
    // cannot be linked only means the next save writes a whole copy again.
    Copy kept;
    std::error_code error;
    if (!output_.name.isEmpty() && !freeName_.isEmpty()) {
        std::filesystem::create_hard_link(fsPath(path_), fsPath(freeName_), error);
        if (!error)
            kept = {freeName_, output_.entries, output_.length};
    }
    std::filesystem::rename(fsPath(spare_.name), fsPath(path_), error);
    if (error) {
        if (!kept.name.isEmpty())
            QFile::remove(kept.name);
        return false;
    }
    freeName_ = spare_.name;
    output_ = {path_, spare_.entries, spare_.length};
    spare_ = kept;
    return true;
}

void BatchResultFile::removeStaleSpares() const
{
    const QFileInfo result(path_);
    const QRegularExpression spareName(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(result.fileName() + spareMark)
            + QStringLiteral("[0-9a-z]+")));
    const QFileInfoList entries = result.dir().entryInfoList(QDir::Files | QDir::Hidden);
    int removed = 0;
    for (const QFileInfo &entry : entries) {
        if (spareName.match(entry.fileName()).hasMatch() && QFile::remove(entry.filePath()))
            ++removed;
    }
    if (removed > 0)
        sntInfo(lcStartup, "[EqBatch]")
                << "removed" << removed << "spare copies an interrupted batch left beside" << path_;
}

// Writes the entries the copy lacks over its closing bracket, then the bracket again. The copy
// is no file anyone reads under its spare name, so it may be incomplete meanwhile. A copy not of
// the length it was left with (the file was replaced by someone else between two saves) is not
// taken.
bool BatchResultFile::bringUpToDate(Copy &copy) const
{
    if (copy.name.isEmpty())
        return false;
    QFile file(copy.name);
    const qint64 expected = copy.entries > 0 ? copy.length + closing.size() : 0;
    if (!file.open(QIODevice::ReadWrite) || file.size() != expected || !file.resize(copy.length)
        || !file.seek(copy.length))
        return false;
    for (qsizetype i = copy.entries; i < entries_.size(); ++i) {
        if (file.write(i == 0 ? "[\n" : ",\n") < 0 || file.write(entries_[i]) < 0)
            return false;
    }
    const qint64 length = file.pos();
    if (file.write(closing) < 0 || !file.flush())
        return false;
    copy.entries = entries_.size();
    copy.length = length;
    return true;
}

// A new copy beside the file, under a fresh name of its own, created with the permissions a new
// file gets.
bool BatchResultFile::createCopy(Copy &copy) const
{
    for (int attempt = 0; attempt < maxNameAttempts; ++attempt) {
        QFile file(path_ + spareMark + QString::number(QRandomGenerator::global()->generate(), 36));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            continue;
        copy = {file.fileName(), 0, 0};
        file.close();
        if (bringUpToDate(copy))
            return true;
        QFile::remove(copy.name);
        copy = {};
        return false;
    }
    return false;
}

void BatchResultFile::discardSpare()
{
    if (!spare_.name.isEmpty())
        QFile::remove(spare_.name);
    spare_ = {};
}

} // namespace snt::startup
