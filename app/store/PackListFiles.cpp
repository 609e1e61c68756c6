#include "app/store/PackListFiles.h"

#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/StagedFiles.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace {

const QString packsKey = QStringLiteral("packs");
// The "packs" array's first element as QJsonDocument writes it in a top-level object: a file's
// frame is written with this string in place of the packs, which then take its place.
const QByteArray packsPlaceholder = "\"packs\": [\n        \"packs\"";
const QByteArray packsOpening = "\"packs\": [\n";
const QByteArray elementIndent = "        ";

QString packIdentity(const QString &rawFile, const QString &name)
{
    return rawFile + QLatin1Char('\n') + name;
}

QSet<QString> packsIn(const QJsonObject &file)
{
    QSet<QString> packs;
    for (const QJsonValue &value : file.value(packsKey).toArray()) {
        const QJsonObject pack = value.toObject();
        packs.insert(packIdentity(pack.value(QStringLiteral("rawFile")).toString(),
                                  pack.value(QStringLiteral("name")).toString()));
    }
    return packs;
}

// A pack's object as an element of a top-level "packs" array: its own document's lines, two
// levels in, without the last line break.
QByteArray elementText(const CurvePack &pack)
{
    const QByteArray alone = store::toJsonText(curvePackToJson(pack));
    QByteArray text;
    text.reserve(alone.size() + alone.count('\n') * elementIndent.size());
    for (qsizetype from = 0; from < alone.size();) {
        const qsizetype end = alone.indexOf('\n', from);
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

} // namespace

// One file of a save: what it is to hold and whether it gains a pack. The file is found again
// by its path in `files_`.
struct PackListFiles::Planned
{
    Planned(QString path, QJsonObject object, Group group)
        : path(std::move(path))
        , object(std::move(object))
        , group(std::move(group))
    { }

    QString path;
    QJsonObject object; // without the packs
    Group group;
    bool gains = false;
    QList<quint64> texts; // the serial numbers of its packs' texts
    QByteArray text; // its text, once it must be written
};

const PackListFiles::KnownFile &PackListFiles::known(const QString &path)
{
    KnownFile &file = files_[path];
    std::optional<store::JsonFile> json = store::readJsonFileAgain(
            path, file.stamp, file.json.readable ? &file.json.content : nullptr);
    if (!json)
        return file;
    const store::FileStamp stamp = file.stamp;
    file = KnownFile();
    file.stamp = stamp;
    file.json = std::move(*json);
    file.packs = packsIn(file.json.object);
    file.json.object.remove(packsKey);
    return file;
}

PackListFiles::PackText PackListFiles::textFor(const CurvePack &pack, const PackText *earlier)
{
    const QString identity = packIdentity(pack.rawFile, pack.name);
    if (earlier && earlier->pack == pack)
        return *earlier;
    return {pack, identity, elementText(pack), ++lastSerial_};
}

void PackListFiles::updateTexts(const QList<CurvePack> &packs, QList<qsizetype> *arrived)
{
    const auto arrives = [&](qsizetype i, const PackText *earlier) {
        if (!earlier || earlier->pack.project != packs[i].project
            || earlier->identity != texts_[i].identity)
            arrived->append(i);
    };
    // Usually the list keeps its places and only a few packs change: those are compared with
    // the pack at the same place. Otherwise (a pack came, went or moved) every pack is looked up
    // by its identity, so that packs that only changed places keep their texts and arrive
    // nowhere.
    const bool samePlaces = texts_.size() == packs.size()
                            && std::equal(texts_.cbegin(), texts_.cend(), packs.cbegin(),
                                          [](const PackText &text, const CurvePack &pack) {
                                              return text.pack.name == pack.name
                                                     && text.pack.rawFile == pack.rawFile;
                                          });
    if (samePlaces) {
        for (qsizetype i = 0; i < packs.size(); ++i) {
            if (texts_[i].pack == packs[i])
                continue;
            const PackText earlier = texts_[i];
            texts_[i] = textFor(packs[i], &earlier);
            arrives(i, &earlier);
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
        const auto found = byIdentity.constFind(packIdentity(packs[i].rawFile, packs[i].name));
        const PackText *match = found != byIdentity.cend() ? &earlier[*found] : nullptr;
        texts_.append(textFor(packs[i], match));
        arrives(i, match);
    }
}

QJsonObject PackListFiles::wholeObject(const Planned &planned) const
{
    QJsonArray packs;
    for (const qsizetype i : std::as_const(planned.group.packs))
        packs.append(curvePackToJson(texts_[i].pack));
    QJsonObject object = planned.object;
    object.insert(packsKey, packs);
    return object;
}

bool PackListFiles::holdsAlready(const KnownFile &file, const Planned &planned) const
{
    if (!file.json.readable || file.json.damaged)
        return false;
    if (planned.text == file.json.content)
        return true;
    if (file.ownText)
        return false;
    // Another writer's layout (its key order, white space or number format) of the same content
    // needs no rewrite: that would only move the file to the top of the project list, or make
    // it too large to be read back.
    return QJsonDocument::fromJson(file.json.content).object() == wholeObject(planned);
}

bool PackListFiles::needsWriting(Planned &planned)
{
    KnownFile &file = *files_.find(planned.path);
    planned.texts.clear();
    planned.texts.reserve(planned.group.packs.size());
    for (const qsizetype i : std::as_const(planned.group.packs))
        planned.texts.append(texts_[i].serial);
    // Put together only when something it is made of changed.
    if (file.texts == planned.texts && planned.object == file.json.object)
        return false;
    QList<QByteArray> packTexts;
    packTexts.reserve(planned.group.packs.size());
    for (const qsizetype i : std::as_const(planned.group.packs))
        packTexts.append(texts_[i].text);
    planned.text = fileText(planned.object, packTexts);
    if (planned.text.size() > store::maxStoreFileBytes)
        planned.text = store::toJsonText(wholeObject(planned));
    if (holdsAlready(file, planned)) {
        file.texts = planned.texts;
        file.ownText = planned.text == file.json.content;
        return false;
    }
    return true;
}

PackListFiles::Written PackListFiles::writeTogether(const QList<Planned *> &files)
{
    const auto unwritten = [](const Planned *planned) {
        sntWarning(lcStore, "[Store]")
                << (planned->path == curvePackRootFile() ? "root file" : "project file")
                << planned->path << "not written; the save changed no file";
        return Written::Nothing;
    };
    // What the user is told here is why the save writes nothing.
    toldWhy_ = false;
    const store::TellUser tellWhy = [this](const QString &text) {
        toldWhy_ = true;
        if (tellUser_)
            tellUser_(text);
    };
    store::StagedFiles staged;
    for (const Planned *planned : files) {
        if (!store::mayReplace(planned->path, files_.constFind(planned->path)->json, planned->text,
                               tellWhy)
            || !staged.stage(planned->path, planned->text))
            return unwritten(planned);
    }
    // Only now, with every file written, is what a rewrite drops kept aside.
    for (const Planned *planned : files) {
        if (!store::keepAside(planned->path, files_.constFind(planned->path)->json, tellUser_))
            return unwritten(planned);
    }
    const qsizetype committed = staged.commit();
    for (qsizetype i = 0; i < committed; ++i)
        noteWritten(*files[i]);
    if (committed == files.size())
        return Written::All;
    sntWarning(lcStore, "[Store]") << "only" << committed << "of the" << files.size()
                                   << "files of the save were put in place";
    return committed == 0 ? Written::Nothing : Written::Part;
}

void PackListFiles::noteWritten(const Planned &planned)
{
    KnownFile &file = *files_.find(planned.path);
    file.json = {true, false, planned.text, planned.object, QString(), QJsonArray()};
    file.packs.clear();
    for (const qsizetype i : std::as_const(planned.group.packs))
        file.packs.insert(texts_[i].identity);
    file.texts = planned.texts;
    file.ownText = true;
    file.stamp = store::FileStamp::of(planned.path);
}

void PackListFiles::listed(const QList<Planned> &projects,
                           QHash<QString, QJsonObject> *contents) const
{
    for (const Planned &planned : projects)
        contents->insert(planned.path, files_.constFind(planned.path)->json.object);
}

PackListFiles::Written PackListFiles::save(const QList<CurvePack> &packs,
                                           QHash<QString, QJsonObject> *contents)
{
    QList<qsizetype> arrived;
    updateTexts(packs, &arrived);
    // The packs grouped by project, each group in list order, groups in order of first
    // appearance.
    Group root;
    QHash<QString, Group> groups;
    QStringList order;
    for (qsizetype i = 0; i < packs.size(); ++i) {
        const CurvePack &pack = packs[i];
        Group *group = &root;
        if (!pack.project.isEmpty()) {
            auto found = groups.find(pack.project);
            if (found == groups.end()) {
                order.append(pack.project);
                found = groups.insert(pack.project, Group());
            }
            group = &*found;
        }
        group->packs.append(i);
        group->curves += pack.count;
    }

    QList<Planned> projects;
    for (const QFileInfo &info : store::projectFiles(QDir::Unsorted)) {
        const KnownFile &file = known(info.filePath());
        if (!file.json.readable)
            continue;
        const QString project = store::projectOfFile(info);
        Planned planned(info.filePath(), file.json.object, groups.take(project));
        planned.object.insert(QStringLiteral("name"), project);
        planned.object.insert(QStringLiteral("curves"), planned.group.curves);
        for (const qsizetype i : std::as_const(arrived)) {
            if (packs[i].project == project && !file.packs.contains(texts_[i].identity))
                planned.gains = true;
        }
        projects.append(planned);
    }

    // Packs whose project has no readable file go to the root file rather than nowhere; they are
    // then in no project.
    Group everything = root;
    for (const QString &project : std::as_const(order)) {
        const auto left = groups.constFind(project);
        if (left == groups.cend())
            continue;
        everything.packs += left->packs;
        everything.curves += left->curves;
    }
    Planned rootFile(curvePackRootFile(), QJsonObject(), everything);
    known(rootFile.path);

    QList<Planned *> changed;
    const auto plan = [&](Planned &planned) {
        if (needsWriting(planned))
            changed.append(&planned);
    };
    for (Planned &planned : projects) {
        if (planned.gains)
            plan(planned);
    }
    plan(rootFile);
    for (Planned &planned : projects) {
        if (!planned.gains)
            plan(planned);
    }
    const Written written = writeTogether(changed);
    listed(projects, contents);
    return written;
}
