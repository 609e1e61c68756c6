#include "app/store/PackListFiles.h"

#include "app/store/PackMerge.h"
#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/RegularFile.h"
#include "files/StagedFiles.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>

namespace {

const QString packsKey = QStringLiteral("packs");
// The "packs" array's first element as QJsonDocument writes it in a top-level object: a file's
// frame is written with this string in place of the packs, which then take its place.
const QByteArray packsPlaceholder = "\"packs\": [\n        \"packs\"";
const QByteArray packsOpening = "\"packs\": [\n";
const QByteArray elementIndent = "        ";
// How often a save reads its files again when other programs keep changing them under it.
constexpr int preparations = 3;

// A pack's object as an element of a top-level "packs" array: its own document's lines, two
// levels in, without the last line break. A pack too large to be indented is one line.
QByteArray elementText(const CurvePack &pack)
{
    const QByteArray alone = store::toJsonText(curvePackToJson(pack));
    QByteArray text;
    text.reserve(alone.size() + alone.count('\n') * elementIndent.size());
    for (qsizetype from = 0; from < alone.size();) {
        qsizetype end = alone.indexOf('\n', from);
        if (end < 0)
            end = alone.size();
        if (from > 0)
            text += '\n';
        text += elementIndent;
        text += QByteArrayView(alone).sliced(from, end - from);
        from = end + 1;
    }
    return text;
}

// The text of `object` with `packs` as its "packs" array, exactly as QJsonDocument writes it.
QByteArray fileText(QJsonObject object, const QList<QByteArray> &packs)
{
    if (packs.isEmpty()) {
        object.insert(packsKey, QJsonArray());
        return store::toJsonText(object);
    }
    object.insert(packsKey, QJsonArray{packsKey});
    const QByteArray frame = store::toJsonText(object);
    const qsizetype at = frame.indexOf(packsPlaceholder);
    qsizetype size = frame.size();
    for (const QByteArray &pack : packs)
        size += pack.size() + 2;
    QByteArray text;
    text.reserve(size);
    text += QByteArrayView(frame).first(at + packsOpening.size());
    for (qsizetype i = 0; i < packs.size(); ++i) {
        if (i > 0)
            text += ",\n";
        text += packs[i];
    }
    text += QByteArrayView(frame).sliced(at + packsPlaceholder.size());
    return text;
}

bool samePacks(const QList<CurvePack> &a, const QList<CurvePack> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), store::sameStoredPack);
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// Why a file that is there could not be read, in a word for the user.
QString unreadableReason(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return QStringLiteral("不是普通文件");
    if (file.size() > store::maxStoreFileBytes)
        return QStringLiteral("太大，超过 %1 MB").arg(store::maxStoreFileBytes >> 20);
    return QStringLiteral("没有读它的权限");
}

// The keys the store works out itself rather than takes from a change: the project a file stands
// for and its packs' curves.
bool isDerivedKey(const QString &key)
{
    return key == QLatin1String("name") || key == QLatin1String("curves");
}

// A file's object (its packs left out) with the store's change of its settings made on what the
// file holds now (`found`): each key the store set otherwise than it had it (`read` to `ours`)
// is set so, and every other key stays as found. Nothing where the other program set such a key
// otherwise too.
std::optional<QJsonObject> withSettings(const QJsonObject &read, const QJsonObject &ours,
                                        QJsonObject found)
{
    for (auto key = ours.constBegin(); key != ours.constEnd(); ++key) {
        const QJsonValue was = read.value(key.key());
        if (isDerivedKey(key.key()) || key.value() == was)
            continue;
        const QJsonValue now = found.value(key.key());
        if (now != was && now != key.value())
            return std::nullopt;
        found.insert(key.key(), key.value());
    }
    return found;
}

} // namespace

// One file of a save: what the list holds for it, and once prepared, what it held then and the
// text it is to hold.
struct PackListFiles::Planned
{
    QString path;
    QString project; // empty: the root file
    QJsonObject object; // without the packs; "name" and "curves" set for a project file
    bool always = false; // written even when the list changed nothing
    QList<qsizetype> places; // of its packs in the list of the save
    bool gains = false;

    store::JsonFile found; // what the file held when prepared
    bool foundFile = false;
    bool needed = true; // the file does not hold its text already
    QByteArray text;
    QJsonObject objectAfter; // without the packs
    QList<CurvePack> packsAfter;
    bool othersKept = false; // it is to hold packs (or versions of them) the list has not
    bool ownText = false; // its text is the store's own text of its object and packs
    bool done = false; // the file holds its text
    QString refusal; // why the change could not be applied to what the file holds
};

QStringList PackListFiles::listWasRead(const QHash<QString, ReadFile> &files)
{
    const QStringList emptied = noteOutOfSight(files);
    QHash<QString, KnownFile> known;
    known.reserve(files.size());
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        const auto earlier = files_.constFind(file.key());
        // The list is made from what was read, also where a save kept another program's packs
        // there. The content read is kept instead of the same bytes written, so that the next
        // reading, which hands over the same buffer while the file does not change, compares no
        // bytes; where that is the store's own text, its texts stay known.
        const bool noObject = file->damaged || store::isBlank(file->content);
        KnownFile read{file->content, noObject, file->holdsUnloaded, file->object, file->packs,
                       std::nullopt,  false};
        if (earlier != files_.cend() && earlier->ownText
            && (earlier->content.isSharedWith(file->content)
                || earlier->content == file->content)) {
            read.texts = earlier->texts;
            read.ownText = earlier->ownText;
        }
        known.insert(file.key(), read);
    }
    files_ = std::move(known);
    return emptied;
}

QStringList PackListFiles::noteOutOfSight(const QHash<QString, ReadFile> &files)
{
    QStringList paths = files_.keys() + outOfSight_.keys();
    paths.removeDuplicates();
    QStringList emptied;
    for (const QString &path : std::as_const(paths)) {
        const auto now = files.constFind(path);
        if (now != files.cend() && !now->damaged && !store::isBlank(now->content)) {
            outOfSight_.remove(path);
            continue;
        }
        const auto earlier = files_.constFind(path);
        if (!outOfSight_.contains(path) && earlier != files_.cend() && !earlier->noObject)
            outOfSight_.insert(path, earlier->packs);
        if (outOfSight_.contains(path) && now != files.cend() && !now->damaged)
            emptied.append(QStringLiteral("「%1」是空的（可能正被别的程序写入），里面原有的曲线包"
                                          "这次没有列出；等那个程序写完，再打开曲线窗口看看")
                                   .arg(fileName(path)));
    }
    return emptied;
}

void PackListFiles::renamed(const QString &from, const QString &to)
{
    if (files_.contains(from))
        files_.insert(to, files_.take(from));
    if (outOfSight_.contains(from))
        outOfSight_.insert(to, outOfSight_.take(from));
}

void PackListFiles::deleted(const QString &path)
{
    files_.remove(path);
    outOfSight_.remove(path);
}

QList<CurvePack> PackListFiles::packsOutOfSight() const
{
    QList<CurvePack> packs;
    for (const QList<CurvePack> &unseen : outOfSight_)
        packs += unseen;
    return packs;
}

bool PackListFiles::mayHoldUnseenPacks(const QStringList &blankNow) const
{
    if (!outOfSight_.isEmpty())
        return true;
    for (auto known = files_.cbegin(); known != files_.cend(); ++known) {
        if (!known->noObject && !QFileInfo::exists(known.key()))
            return true;
    }
    return std::any_of(blankNow.cbegin(), blankNow.cend(), [this](const QString &path) {
        const auto known = files_.constFind(path);
        return known == files_.cend() || !readEmpty(path, *known);
    });
}

bool PackListFiles::readEmpty(const QString &path, const KnownFile &known) const
{
    return known.noObject && store::isBlank(known.content) && !outOfSight_.contains(path);
}

QString PackListFiles::deletionProblem(const QString &path) const
{
    const auto known = files_.constFind(path);
    QByteArray content;
    const store::FileRead read = store::readRegularFile(path, store::maxStoreFileBytes, content);
    if (known == files_.cend() || !read.opened || content != known->content)
        return QStringLiteral(
                       "「%1」刚被别的程序改过，工程没有删；列表已按文件重新读出，请看过再删")
                .arg(fileName(path));
    // What cannot be read may be another program's write in progress, which a deletion loses.
    if (store::isBlank(content) && !readEmpty(path, *known))
        return QStringLiteral("「%1」是空的（可能正被别的程序写入），工程没有删；"
                              "等那个程序写完再删")
                .arg(fileName(path));
    if (store::parsedJsonFile(path, read, content).damaged)
        return QStringLiteral("「%1」读不出来（可能正被别的程序写入），工程没有删；等那个程序"
                              "写完再删，要是没有程序在写，请修好或移走这个文件")
                .arg(fileName(path));
    return QString();
}

PackListFiles::PackText PackListFiles::textFor(const CurvePack &pack, const PackText *earlier)
{
    const QString identity = store::packIdentity(pack.rawFile, pack.name);
    if (earlier && earlier->pack == pack)
        return *earlier;
    return {pack, identity, elementText(pack), ++lastSerial_};
}

void PackListFiles::updateTexts(const QList<CurvePack> &packs)
{
    // Usually the list keeps its places and only a few packs change: those are compared with
    // the pack at the same place. Otherwise (a pack came, went or moved) every pack is looked up
    // by its identity, so that packs that only changed places keep their texts.
    const bool samePlaces = texts_.size() == packs.size()
                            && std::equal(texts_.cbegin(), texts_.cend(), packs.cbegin(),
                                          [](const PackText &text, const CurvePack &pack) {
                                              return text.pack.name == pack.name
                                                     && text.pack.rawFile == pack.rawFile;
                                          });
    if (samePlaces) {
        for (qsizetype i = 0; i < packs.size(); ++i) {
            if (!(texts_[i].pack == packs[i]))
                texts_[i] = textFor(packs[i], &texts_[i]);
        }
        return;
    }
    QHash<QString, qsizetype> byIdentity;
    byIdentity.reserve(texts_.size());
    for (qsizetype i = 0; i < texts_.size(); ++i)
        byIdentity.insert(texts_[i].identity, i);
    const QList<PackText> earlier = std::exchange(texts_, {});
    texts_.reserve(packs.size());
    for (qsizetype i = 0; i < packs.size(); ++i) {
        const auto found
                = byIdentity.constFind(store::packIdentity(packs[i].rawFile, packs[i].name));
        texts_.append(textFor(packs[i], found != byIdentity.cend() ? &earlier[*found] : nullptr));
    }
}

template<typename Field>
QList<Field> PackListFiles::plannedField(const Planned &planned, Field PackText::*field) const
{
    QList<Field> values;
    values.reserve(planned.places.size());
    for (const qsizetype i : planned.places)
        values.append(texts_[i].*field);
    return values;
}

bool PackListFiles::holdsItsPacks(const KnownFile &known, const Planned &planned,
                                  const QList<quint64> &serials) const
{
    const QList<CurvePack> &held = known.packs;
    if (held.size() != planned.places.size())
        return false;
    // Where the texts are known, only the packs whose texts changed can differ.
    const bool textsKnown = known.texts && known.texts->size() == serials.size();
    for (qsizetype i = 0; i < held.size(); ++i) {
        if (textsKnown && known.texts->at(i) == serials[i])
            continue;
        if (!store::sameStoredPack(held[i], texts_[planned.places[i]].pack))
            return false;
    }
    return true;
}

bool PackListFiles::needsWriting(Planned &planned)
{
    const auto known = files_.find(planned.path);
    // A file the list was not read from (planned only where the list names its project) is
    // brought into the store's form, keeping its packs.
    if (known == files_.end()) {
        planned.gains = !planned.places.isEmpty();
        return true;
    }
    // Where no object was read there is nothing of the store's to bring up to date: only a
    // change of the list's own makes a save try to write there.
    const bool settingsKept
            = known->noObject || (!known->holdsUnloaded && planned.object == known->object);
    if (!planned.always && settingsKept) {
        const QList<quint64> serials = plannedField(planned, &PackText::serial);
        if (holdsItsPacks(*known, planned, serials)) {
            if (!known->noObject)
                known->texts = serials;
            return false;
        }
    }
    QSet<QString> held;
    for (const CurvePack &pack : std::as_const(known->packs))
        held.insert(store::packIdentity(pack.rawFile, pack.name));
    planned.gains = std::any_of(planned.places.cbegin(), planned.places.cend(),
                                [&](qsizetype i) { return !held.contains(texts_[i].identity); });
    return true;
}

void PackListFiles::prepareOwnText(Planned &planned, const KnownFile &known)
{
    const QList<CurvePack> listed = plannedField(planned, &PackText::pack);
    // The file holds what the store read or wrote: its settings change on that, with no one
    // else's change to meet.
    QJsonObject object = *withSettings(known.object, planned.object, known.object);
    if (!planned.project.isEmpty()) {
        int curves = 0;
        for (const CurvePack &pack : listed)
            curves += pack.count;
        object.insert(QStringLiteral("name"), planned.project);
        object.insert(QStringLiteral("curves"), curves);
    }
    planned.text = fileText(object, plannedField(planned, &PackText::text));
    if (planned.text.size() > store::maxStoreFileBytes) {
        QJsonObject whole = object;
        QJsonArray packs;
        for (const CurvePack &pack : listed)
            packs.append(curvePackToJson(pack));
        whole.insert(packsKey, packs);
        planned.text = store::toJsonText(whole);
    }
    planned.objectAfter = object;
    planned.packsAfter = listed;
    planned.othersKept = false;
    planned.ownText = true;
    planned.needed = true;
}

std::optional<PackListFiles::Unwritable> PackListFiles::unwritable(const Planned &planned,
                                                                   const KnownFile *known) const
{
    const store::JsonFile &found = planned.found;
    const QString file = fileName(planned.path);
    if (!found.readable && QFileInfo::exists(planned.path))
        return Unwritable{QStringLiteral("「%1」读不了（%2），这次的改动没有存，也没有改它")
                                  .arg(file, unreadableReason(planned.path)),
                          false};
    const bool unchanged = known && found.readable && found.content == known->content;
    if (unchanged && store::isBlank(found.content) && readEmpty(planned.path, *known))
        return std::nullopt;
    if (unchanged && found.damaged && !outOfSight_.contains(planned.path))
        return Unwritable{
                QStringLiteral("「%1」读不出来（不是完整的 JSON 对象），这次的改动没有存，"
                               "也没有改它；请修好或移走这个文件")
                        .arg(file),
                false};
    QString state;
    if (!found.readable && known)
        state = QStringLiteral("不见了");
    else if (found.readable && store::isBlank(found.content))
        state = QStringLiteral("是空的");
    else if (found.damaged)
        state = QStringLiteral("读不出来");
    if (state.isEmpty())
        return std::nullopt;
    return Unwritable{QStringLiteral("「%1」%2（可能正被别的程序写入），这次的改动没有存，也没有改"
                                     "它；等那个程序写完再做一次")
                              .arg(file, state),
                      true};
}

bool PackListFiles::prepare(Planned &planned)
{
    const auto entry = files_.constFind(planned.path);
    const KnownFile *known = entry != files_.cend() ? &*entry : nullptr;
    QByteArray content;
    const store::FileRead read
            = store::readRegularFile(planned.path, store::maxStoreFileBytes, content);
    planned.foundFile = read.opened;
    if (known && known->ownText && read.opened && content == known->content) {
        planned.found = {true, false, std::move(content), known->object, QString(), QJsonArray()};
        prepareOwnText(planned, *known);
        return true;
    }
    planned.found = store::parsedJsonFile(planned.path, read, std::move(content));
    if (const std::optional<Unwritable> refused = unwritable(planned, known)) {
        planned.refusal = refused->sentence;
        metOtherWriters_ = metOtherWriters_ || refused->anotherProgramsWrite;
        sntWarning(lcStore, "[Store]")
                << "not writing" << planned.path
                << (refused->anotherProgramsWrite
                            ? ": missing, empty or no JSON object since it was read"
                            : ": it cannot be read, or held no JSON object when read");
        return false;
    }
    const QList<CurvePack> listed = plannedField(planned, &PackText::pack);
    const store::MergedPacks merged
            = store::mergePacks(known ? known->packs : QList<CurvePack>(), listed,
                                store::loadedPacks(planned.found.object), replacements_);
    QJsonObject found = planned.found.object;
    found.remove(packsKey);
    const std::optional<QJsonObject> settings
            = withSettings(known ? known->object : QJsonObject(), planned.object, found);
    if (!merged.applied || !settings) {
        metOtherWriters_ = true;
        const QString what = merged.applied
                                     ? QStringLiteral("工程设置")
                                     : QStringLiteral("曲线包「%1」").arg(merged.conflictingPack);
        planned.refusal = QStringLiteral("「%1」刚被别的程序改过，%2这次的改动和它对不上，"
                                         "没有存；列表已按文件重新读出")
                                  .arg(fileName(planned.path), what);
        sntWarning(lcStore, "[Store]") << "not writing" << planned.path << ":" << what
                                       << "was changed here and by another program";
        return false;
    }
    QJsonObject object = *settings;
    if (!planned.project.isEmpty()) {
        object.insert(QStringLiteral("name"), planned.project);
        object.insert(QStringLiteral("curves"), store::countSum(merged.packs));
    }
    planned.objectAfter = object;
    planned.packsAfter = merged.records;
    for (CurvePack &pack : planned.packsAfter)
        pack.project = planned.project;
    object.insert(packsKey, merged.packs);
    planned.text = store::toJsonText(object);
    planned.needed = planned.always || !planned.found.readable
                     || !planned.found.droppedPacks.isEmpty() || object != planned.found.object;
    planned.othersKept = !samePacks(planned.packsAfter, listed);
    // Where the file is to hold the list's packs alone, its text may be the store's own.
    planned.ownText
            = !planned.othersKept
              && planned.text
                         == fileText(planned.objectAfter, plannedField(planned, &PackText::text));
    if (planned.othersKept) {
        metOtherWriters_ = true;
        sntInfo(lcStore, "[Store]") << planned.path << "was changed by another program since it"
                                    << "was read; the save keeps what that program wrote";
    }
    return true;
}

PackListFiles::Written PackListFiles::writeTogether(const QList<Planned *> &files)
{
    // What the user is told here is why the save writes nothing.
    const store::TellUser tellWhy = [this](const QString &text) {
        toldWhy_ = true;
        if (tellUser_)
            tellUser_(text);
    };
    for (int round = 0; round < preparations; ++round) {
        for (Planned *planned : files) {
            if (prepare(*planned))
                continue;
            tellWhy(planned->refusal);
            return Written::Nothing;
        }
        QList<Planned *> needed;
        std::copy_if(files.cbegin(), files.cend(), std::back_inserter(needed),
                     [](const Planned *planned) { return planned->needed; });
        const std::optional<Written> written = stageAndCommit(needed, tellWhy);
        if (!written)
            continue;
        if (*written == Written::All) {
            for (Planned *planned : files) {
                if (!planned->needed)
                    noteWritten(*planned);
            }
        }
        return *written;
    }
    sntWarning(lcStore, "[Store]") << "other programs kept changing the files of the save";
    tellWhy(QStringLiteral("别的程序一直在改「%1」，这次的改动没有存，请稍后再试")
                    .arg(fileName(files.first()->path)));
    return Written::Nothing;
}

std::optional<PackListFiles::Written> PackListFiles::stageAndCommit(const QList<Planned *> &files,
                                                                    const store::TellUser &tellWhy)
{
    const auto unwritten = [](const Planned *planned) {
        sntWarning(lcStore, "[Store]")
                << (planned->path == curvePackRootFile() ? "root file" : "project file")
                << planned->path << "not written; the save changed no file";
        return Written::Nothing;
    };
    store::StagedFiles staged;
    for (const Planned *planned : files) {
        if (!store::mayReplace(planned->path, planned->found, planned->text, tellWhy)
            || !staged.stage(planned->path, planned->text,
                             {planned->foundFile, planned->found.content}))
            return unwritten(planned);
    }
    // Only now, with every file written, is what a rewrite drops kept aside.
    for (const Planned *planned : files) {
        if (!store::keepAside(planned->path, planned->found, tellUser_))
            return unwritten(planned);
    }
    const qsizetype committed = staged.commit();
    // Another program wrote a file while the save wrote its own: the save reads them again.
    if (staged.targetChanged())
        return std::nullopt;
    for (qsizetype i = 0; i < committed; ++i)
        noteWritten(*files[i]);
    if (committed == files.size())
        return Written::All;
    sntWarning(lcStore, "[Store]") << "only" << committed << "of the" << files.size()
                                   << "files of the save were put in place";
    return committed == 0 ? Written::Nothing : Written::Part;
}

std::optional<QSet<QString>> PackListFiles::filesNamedInWhatItWrote(const QString &path) const
{
    const auto named = namedInWritten_.constFind(path);
    if (named == namedInWritten_.cend())
        return std::nullopt;
    QByteArray content;
    const store::FileRead read = store::readRegularFile(path, store::maxStoreFileBytes, content);
    if (!read.opened || content != files_.value(path).content)
        return std::nullopt;
    return *named;
}

void PackListFiles::noteWritten(Planned &planned)
{
    if (planned.needed)
        namedInWritten_[planned.path] = rawFilesNamedBy(planned.packsAfter);
    KnownFile &file = files_[planned.path];
    file.content = planned.needed ? planned.text : planned.found.content;
    file.noObject = false;
    file.holdsUnloaded = false;
    file.object = planned.objectAfter;
    // The next change is reckoned from what the list holds now, whatever else the file holds.
    file.packs = plannedField(planned, &PackText::pack);
    file.texts = plannedField(planned, &PackText::serial);
    file.ownText = planned.ownText && file.content == planned.text;
    planned.done = true;
}

PackListFiles::Written PackListFiles::save(const QList<CurvePack> &packs,
                                           QHash<QString, QJsonObject> *contents,
                                           const store::Replacements &replacements)
{
    toldWhy_ = false;
    metOtherWriters_ = false;
    namedInWritten_.clear();
    replacements_ = replacements;
    updateTexts(packs);
    // The packs' places grouped by project, each group in list order.
    QList<qsizetype> root;
    QHash<QString, QList<qsizetype>> groups;
    QStringList order;
    for (qsizetype i = 0; i < packs.size(); ++i) {
        const QString &project = packs[i].project;
        if (project.isEmpty()) {
            root.append(i);
            continue;
        }
        if (!groups.contains(project))
            order.append(project);
        groups[project].append(i);
    }

    QList<Planned> projects;
    QSet<QString> plannedPaths;
    const auto plan = [&](const QString &path, const QString &project) {
        const QList<qsizetype> group = groups.take(project);
        const auto known = files_.constFind(path);
        QJsonObject object = known != files_.cend() ? known->object : QJsonObject();
        object.insert(QStringLiteral("name"), project);
        int curves = 0;
        for (const qsizetype i : group)
            curves += packs[i].count;
        object.insert(QStringLiteral("curves"), curves);
        Planned &file = projects.emplace_back();
        file.path = path;
        file.project = project;
        file.object = object;
        file.places = group;
        plannedPaths.insert(path);
    };
    for (const QFileInfo &info : store::projectFiles(QDir::Unsorted)) {
        // A file the list was not read from and does not name is not written (another program
        // may be writing it). One it was read from or names stays where its packs are, also
        // where it cannot be read now: a save that would change it then writes nothing.
        const QString project = store::projectOfFile(info);
        if (files_.contains(info.filePath()) || groups.contains(project))
            plan(info.filePath(), project);
    }
    // A file the list was read from that is gone may be another program's file written anew:
    // its packs stay its own, and a save that would change them writes nothing.
    const QString rootPath = curvePackRootFile();
    for (auto known = files_.cbegin(); known != files_.cend(); ++known) {
        if (known.key() != rootPath && !plannedPaths.contains(known.key())
            && !QFileInfo::exists(known.key()))
            plan(known.key(), store::projectOfFile(QFileInfo(known.key())));
    }

    // Packs whose project has no file go to the root file rather than nowhere; they are then in
    // no project.
    for (const QString &project : std::as_const(order))
        root += groups.value(project);
    Planned rootFile;
    rootFile.path = rootPath;
    rootFile.places = root;

    // The files that gain a pack are put in place first, then the root file, then the rest.
    QList<Planned *> gaining;
    QList<Planned *> keeping;
    for (Planned &planned : projects) {
        if (needsWriting(planned))
            (planned.gains ? gaining : keeping).append(&planned);
    }
    QList<Planned *> changed = gaining;
    if (needsWriting(rootFile))
        changed.append(&rootFile);
    changed += keeping;
    const Written written = changed.isEmpty() ? Written::All : writeTogether(changed);
    for (const Planned &planned : std::as_const(projects)) {
        if (planned.done)
            contents->insert(planned.path, planned.objectAfter);
    }
    return written;
}

PackListFiles::Written PackListFiles::saveProjectFile(const QString &path,
                                                      const QJsonObject &settings,
                                                      const QList<CurvePack> &packs,
                                                      const QString &project)
{
    toldWhy_ = false;
    metOtherWriters_ = false;
    namedInWritten_.clear();
    replacements_.clear();
    updateTexts(packs);
    Planned planned;
    planned.path = path;
    planned.project = project;
    planned.object = settings;
    planned.always = true;
    for (qsizetype i = 0; i < packs.size(); ++i) {
        if (packs[i].project == project)
            planned.places.append(i);
    }
    needsWriting(planned);
    return writeTogether({&planned});
}
