#include "app/store/ProjectStore.h"

#include "app/store/CaptureFiles.h"
#include "app/store/StoreJson.h"
#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/StoreFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString kJsonSuffix = QStringLiteral(".json");

using store::projectFiles;
using store::projectOfFile;

// The ".raw" files a pack's deletion removes: both captures, but none when the first has no name.
QStringList captureFiles(const CurvePack &pack)
{
    return pack.rawFile.isEmpty() ? QStringList() : QStringList{pack.rawFile, pack.rawFile2};
}

// Names read from pack JSON that users copy between machines: only plain names are deleted, so
// a copied file can never make the store delete outside the raw folder.
void removeRawFile(const QString &name)
{
    if (name.isEmpty())
        return;
    if (!store::isPlainFileName(name)) {
        sntWarning(lcStore, "[Store]")
                << "capture file name" << name << "not deleted: not a file name";
        return;
    }
    QFile::remove(rawDir() + QLatin1Char('/') + name);
}

} // namespace

ProjectStore::ProjectStore(store::TellUser tellUser)
    : tellUser_(std::move(tellUser))
    , packListFiles_(std::make_shared<PackListFiles>(tellUser_))
{ }

void ProjectStore::listProjects()
{
    listProjects(QHash<QString, QJsonObject>());
}

void ProjectStore::listProjects(const QHash<QString, QJsonObject> &known)
{
    waitForBackgroundSave();
    projects.clear();
    const QFileInfoList files = projectFiles(QDir::Time);
    for (const QFileInfo &file : files) {
        const auto knownObject = known.constFind(file.filePath());
        QJsonObject object;
        if (knownObject != known.cend()) {
            object = *knownObject;
        } else {
            const LoadedFiles::File &loaded = loaded_.file(file.filePath(), projectOfFile(file));
            if (!loaded.readable)
                continue;
            object = loaded.object;
        }
        ProjectInfo info;
        info.name = projectOfFile(file);
        info.roomType = object.value(QStringLiteral("roomType")).toString(QStringLiteral("室内"));
        info.roomHeight
                = object.value(QStringLiteral("roomHeight")).toString(QStringLiteral("4 m"));
        info.programType
                = object.value(QStringLiteral("programType")).toString(QStringLiteral("Livehouse"));
        info.curves = object.value(QStringLiteral("curves")).toInt(0);
        info.modified = file.lastModified().toLocalTime().toString(QStringLiteral("MM-dd HH:mm"));
        projects.append(info);
    }
    freshInstall = projects.isEmpty();
}

void ProjectStore::loadCurvePacks()
{
    const QStringList unread = readCurvePacks();
    if (!unread.isEmpty() && tellUser_)
        tellUser_(unread.join(QStringLiteral("；")));
}

QStringList ProjectStore::readCurvePacks()
{
    waitForBackgroundSave();
    curvePacks.clear();
    QStringList refusals;
    QHash<QString, PackListFiles::ReadFile> read;
    const auto load = [&](const QString &path, const QString &project) {
        const LoadedFiles::File &file = loaded_.file(path, project);
        curvePacks += file.packs;
        if (!file.refusal.isEmpty())
            refusals.append(file.refusal);
        if (file.damaged)
            refusals.append(QStringLiteral("「%1」读不出来（不是完整的 JSON、同一处有重名的键，"
                                           "或有 NaN、Infinity 这类 JSON 里没有的数），里面的曲线包"
                                           "没有列出，保存时也不会改它")
                                    .arg(QFileInfo(path).fileName()));
        if (file.readable)
            read.insert(path,
                        {file.content, file.damaged, file.holdsUnloaded, file.object, file.packs});
    };
    const QFileInfoList files = projectFiles(QDir::Unsorted);
    for (const QFileInfo &file : files)
        load(file.filePath(), projectOfFile(file));
    load(curvePackRootFile(), QString());
    refusals += packListFiles_->listWasRead(read);
    filesBehind_ = false;
    return refusals;
}

bool ProjectStore::saveCurvePacks()
{
    const PackListFiles::Written written = writePackList();
    if (packListFiles_->metOtherWriters())
        readCurvePacks();
    return written == PackListFiles::Written::All;
}

PackListFiles::Written ProjectStore::writePackList(const store::Replacements &replacements)
{
    waitForBackgroundSave();
    ++saves_;
    QHash<QString, QJsonObject> contents; // what each project file the save wrote holds now
    const PackListFiles::Written written
            = packListFiles_->save(curvePacks, &contents, replacements);
    filesBehind_ = written != PackListFiles::Written::All || packListFiles_->metOtherWriters();
    listProjects(contents);
    return written;
}

void ProjectStore::saveCurvePacksInBackground(std::function<void(SaveOutcome)> done)
{
    waitForBackgroundSave();
    backgroundSave_ = std::jthread([this, files = packListFiles_, packs = curvePacks,
                                    save = ++saves_, done = std::move(done)] {
        SaveOutcome outcome;
        outcome.save = save;
        const PackListFiles::Written written = files->save(packs, &outcome.contents);
        outcome.allWritten = written == PackListFiles::Written::All;
        outcome.toldWhy = files->toldWhy();
        filesBehindInBackground_ = !outcome.allWritten || files->metOtherWriters();
        done(std::move(outcome));
    });
}

bool ProjectStore::finishBackgroundSave(const SaveOutcome &outcome)
{
    if (outcome.save != saves_)
        return false;
    waitForBackgroundSave();
    const bool readAgain = filesBehind_;
    if (readAgain)
        readCurvePacks();
    listProjects(outcome.contents);
    return readAgain;
}

void ProjectStore::waitForBackgroundSave()
{
    if (!backgroundSave_.joinable())
        return;
    backgroundSave_.join();
    filesBehind_ = filesBehindInBackground_;
}

bool ProjectStore::saveProject(const QString &name, const QString &roomType,
                               const QString &roomHeight, const QString &programType)
{
    waitForBackgroundSave();
    const QString path = projectFilePath(name);
    if (path.isEmpty()) {
        if (!name.trimmed().isEmpty())
            sntWarning(lcStore, "[Store]") << "project name refused:" << name;
        return false;
    }
    const QJsonObject object{
            {QStringLiteral("name"), name},
            {QStringLiteral("roomType"), roomType},
            {QStringLiteral("roomHeight"), roomHeight},
            {QStringLiteral("programType"), programType},
    };
    const bool written = packListFiles_->saveProjectFile(path, object, curvePacks, name)
                         == PackListFiles::Written::All;
    // The packs another program put in the file since are shown with the rest.
    if (packListFiles_->metOtherWriters())
        readCurvePacks();
    listProjects();
    return written;
}

bool ProjectStore::moveCurvePack(int from, int before, const QString &project)
{
    const int count = int(curvePacks.size());
    if (from < 0 || from >= count || before < -1 || before > count)
        return false;
    const QList<CurvePack> earlier = curvePacks;
    CurvePack pack = curvePacks.takeAt(from);
    pack.project = project;
    int position = before > from ? before - 1 : before;
    if (position < 0 || position > curvePacks.size())
        position = int(curvePacks.size());
    curvePacks.insert(position, std::move(pack));
    return saveOrRestore(earlier);
}

bool ProjectStore::deleteCurvePack(int index)
{
    if (index < 0 || index >= curvePacks.size())
        return false;
    const QList<CurvePack> earlier = curvePacks;
    const CurvePack pack = curvePacks.takeAt(index);
    const bool deleted = saveOrRestore(earlier);
    // The captures go only with the pack, and only once no pack names them: a save that wrote
    // nothing leaves the pack where it was, listed or not (a file may be another program's write
    // in progress).
    if (deleted)
        removeUnusedFiles(captureFiles(pack));
    return deleted;
}

bool ProjectStore::saveOrRestore(const QList<CurvePack> &earlier,
                                 const store::Replacements &replacements)
{
    waitForBackgroundSave();
    const bool filesHeldEarlier = !filesBehind_;
    const PackListFiles::Written written = writePackList(replacements);
    if (!filesBehind_)
        return true;
    // Nothing may show that the files do not hold.
    if (written == PackListFiles::Written::Nothing && filesHeldEarlier
        && !packListFiles_->metOtherWriters()) {
        curvePacks = earlier;
        filesBehind_ = false;
    } else {
        readCurvePacks();
    }
    return written == PackListFiles::Written::All;
}

void ProjectStore::removeCurvePackFiles(const CurvePack &pack)
{
    for (const QString &name : captureFiles(pack))
        removeRawFile(name);
}

QStringList ProjectStore::unlistedFiles(const QStringList &names) const
{
    QStringList unlisted;
    for (const QString &name : names) {
        if (!name.isEmpty() && !anyPackNames(name))
            unlisted.append(name);
    }
    return unlisted;
}

void ProjectStore::removeUnusedFiles(const QStringList &names)
{
    const QStringList unlisted = unlistedFiles(names);
    if (unlisted.isEmpty())
        return;
    // Another program may have put packs in the files since they were read.
    const std::optional<QSet<QString>> named = filesNamedInStoreFiles();
    if (!named) {
        sntInfo(lcStore, "[Store]") << "capture files" << unlisted
                                    << "kept: a store file that cannot be read may name them";
        return;
    }
    for (const QString &name : unlisted) {
        if (!named->contains(name))
            removeRawFile(name);
    }
}

std::optional<QSet<QString>> ProjectStore::filesNamedInStoreFiles()
{
    QSet<QString> named;
    QStringList blank;
    const auto add = [&](const QString &path, const QString &project) {
        if (const auto written = packListFiles_->filesNamedInWhatItWrote(path)) {
            named += *written;
            return true;
        }
        const LoadedFiles::File &file = loaded_.file(path, project);
        named += rawFilesNamedBy(file.packs);
        if (file.readable && store::isBlank(file.content))
            blank.append(path);
        // Something that is no store file (a FIFO, say) names nothing; a store file the store
        // may not read may name anything.
        const bool unread = !file.readable && file.refusal.isEmpty() && QFileInfo::exists(path);
        return !unread && !file.damaged && !file.holdsUnloaded;
    };
    const QFileInfoList files = projectFiles(QDir::Unsorted);
    for (const QFileInfo &file : files) {
        if (!add(file.filePath(), projectOfFile(file)))
            return std::nullopt;
    }
    if (!add(curvePackRootFile(), QString()))
        return std::nullopt;
    // A file emptied or gone since it was read may be another program's write in progress.
    if (packListFiles_->mayHoldUnseenPacks(blank))
        return std::nullopt;
    return named;
}

bool ProjectStore::anyPackNames(const QString &file) const
{
    return std::any_of(curvePacks.cbegin(), curvePacks.cend(), [&file](const CurvePack &pack) {
        return pack.rawFile == file || pack.rawFile2 == file || pack.pointsFile == file;
    });
}

bool ProjectStore::isListed(const QString &project) const
{
    return std::any_of(projects.cbegin(), projects.cend(),
                       [&project](const ProjectInfo &info) { return info.name == project; });
}

bool ProjectStore::savePack(CurvePack record, int replace)
{
    if (replace >= curvePacks.size())
        return false;
    const CurvePack replaced = replace >= 0 ? curvePacks.at(replace) : CurvePack();
    CurvePack written = std::move(record);
    const QString unwrittenSecond = written.rawFile2; // kept when there is no second capture
    written.rawFile.clear();
    written.rawFile2.clear();
    written.pointsFile.clear();
    written.pointCount = 0;
    bool saved = writeRawFile(written);
    if (written.rawFile2.isEmpty())
        written.rawFile2 = unwrittenSecond;
    if (saved && !written.pointFreq.isEmpty())
        saved = writePointsFile(written, written.pointFreq, written.pointLevel, written.pointPhase,
                                written.pointCoherence);
    // Once the list is saved or not, the files no pack names are of no use: the new ones when it
    // was not (no file can name them), the replaced pack's when it was.
    QStringList made;
    for (const QString &name : rawFilesOf(written)) {
        if (name != unwrittenSecond)
            made.append(name);
    }
    if (saved) {
        const QList<CurvePack> earlier = curvePacks;
        // A pack saved again under a new name continues the one it replaces: a save that meets
        // another program's change of that one writes nothing.
        store::Replacements replacements;
        if (replace >= 0)
            replacements.insert(store::packIdentity(written.rawFile, written.name),
                                store::packIdentity(replaced.rawFile, replaced.name));
        if (replace < 0)
            curvePacks.append(std::move(written));
        else
            curvePacks[replace] = std::move(written);
        saved = saveOrRestore(earlier, replacements);
    }
    for (const QString &name : unlistedFiles(made))
        removeRawFile(name);
    if (saved)
        removeUnusedFiles(rawFilesOf(replaced));
    return saved;
}

bool ProjectStore::deleteProject(const QString &name)
{
    if (!isListed(name))
        return false;
    waitForBackgroundSave();
    const QString path = projectsDir() + QLatin1Char('/') + name + kJsonSuffix;
    // Packs another program put in the file since it was read would go unseen with it, and
    // so would a write of another program's in progress.
    if (const QString problem = packListFiles_->deletionProblem(path); !problem.isEmpty()) {
        sntWarning(lcStore, "[Store]") << "project file" << path << "not deleted: it changed"
                                       << "since it was read, or holds no JSON object";
        if (tellUser_)
            tellUser_(problem);
        listProjects();
        readCurvePacks();
        return false;
    }
    if (!QFile::remove(path) && QFileInfo::exists(path)) {
        sntWarning(lcStore, "[Store]") << "project file" << path << "could not be deleted";
        return false;
    }
    packListFiles_->deleted(path);
    QList<CurvePack> gone;
    for (const CurvePack &pack : std::as_const(curvePacks)) {
        if (pack.project == name)
            gone.append(pack);
    }
    listProjects();
    readCurvePacks();
    // Another project file (a copy the user made, say) may name the same captures.
    for (const CurvePack &pack : std::as_const(gone))
        removeUnusedFiles(captureFiles(pack));
    return true;
}

bool ProjectStore::renameProject(const QString &oldName, const QString &newName)
{
    const QString newPath = projectFilePath(newName);
    if (!isListed(oldName) || newPath.isEmpty())
        return false;
    waitForBackgroundSave();
    const QString oldPath = projectsDir() + QLatin1Char('/') + oldName + kJsonSuffix;
    // QFile::rename never replaces an existing file.
    if (!QFile::rename(oldPath, newPath)) {
        sntWarning(lcStore, "[Store]") << "project file" << oldPath << "not renamed to" << newPath;
        return false;
    }
    packListFiles_->renamed(oldPath, newPath);
    for (CurvePack &pack : curvePacks) {
        if (pack.project == oldName)
            pack.project = newName;
    }
    // The packs are in the renamed file whether or not this save succeeds; it brings its "name".
    saveCurvePacks();
    readCurvePacks();
    return true;
}

int ProjectStore::nextSeq(const QString &use) const
{
    // The packs of a file out of sight come back once its writer is done: their names stay taken.
    const QList<CurvePack> unseen = packListFiles_->packsOutOfSight();
    if (curvePacks.isEmpty() && unseen.isEmpty())
        return 1;
    static const QRegularExpression trailingNumber(QStringLiteral("(\\d+)\\s*$"));
    int best = 0;
    for (const QList<CurvePack> *packs : {&curvePacks, &unseen}) {
        for (const CurvePack &pack : *packs) {
            if (pack.use != use)
                continue;
            int seq = pack.seq;
            if (seq < 1) {
                const QRegularExpressionMatch match = trailingNumber.match(pack.name);
                if (match.hasMatch())
                    seq = match.captured(1).toInt();
            }
            best = std::max(best, seq);
        }
    }
    return best + 1;
}

QString ProjectStore::projectNameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("工程名不能为空");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QLatin1String("..")) || name.contains(QChar(u'\0')))
        return QStringLiteral("工程名不能包含“/”“\\”或“..”");
    // A leading dot makes a hidden file, which the project list never shows.
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("工程名不能以“.”开头");
    return QString();
}

QString ProjectStore::projectFilePath(const QString &name)
{
    if (!projectNameProblem(name).isEmpty())
        return QString();
    return projectsDir() + QLatin1Char('/') + name + kJsonSuffix;
}
