#pragma once

#include "app/store/CurvePack.h"
#include "app/store/PackMerge.h"
#include "app/store/StoreJson.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The pack list as the project files and the root file hold it (see ProjectStore's
// saveCurvePacks). The store remembers what it read from each file, or last wrote there, and a
// save writes only the files whose packs or keys the list changed: after one edit, one file. Each
// pack's text is kept from one save to the next, so a save turns only the packs that changed
// into text.
//
// Other programs write these files too (a sync client, a second copy, a hand edit). Right before
// a save replaces a file it reads what the file holds now; where that is not what the store read
// or wrote there, the save applies its own change (the packs it edited, added, replaced, moved in
// or out, deleted, and the settings it changed) to what the file holds now and keeps all else, and
// where its change meets one of the other program's it writes nothing and tells the user which
// file and pack. Packs and keys the save does not change stay as the file holds them. A change is
// reckoned against what the list was made from, which after a save is what the list held then:
// packs another program put in a file since stay there, though the list shows them only once it
// is read again. A file the store read that is now missing, empty or no JSON object, or one that
// is empty or no JSON object where the store never read it, is taken for another program's write
// in progress (or a file the store cannot read) and is never written over: a save that would
// write it writes nothing and tells the user what to do. So is a file that exists but cannot be
// read (too large, say, or not readable for this user): its packs stay its own, and a save that
// would change them writes nothing. A file read empty that still is (left by `touch`, or by a
// writer that gave up) is the store's to write or delete, unless it held packs before: the
// packs last read from a file that was emptied, deleted or made unreadable since are kept out of
// sight (their names are not given to new packs, and their captures stay), and such a file is
// named whenever the list is read. A file the store never read and the list does not name is not
// written at all. Each file is checked once more as it is put in place, and a save
// whose files changed meanwhile starts again.
//
// A save changes every file it has to or none: each is written beside its target first, and only
// once all were written are they put in place, so a save that fails leaves the files as they
// were. They are put in place in an order that loses no pack even when that is cut short (a
// crash): the files that gain a pack first, then the root file, then the files that only keep or
// lose packs. A pack that moves is then on disk twice for a moment, never nowhere.
class PackListFiles
{
public:
    // `tellUser` hears of the packs a save sets aside and of the saves it refuses.
    explicit PackListFiles(store::TellUser tellUser)
        : tellUser_(std::move(tellUser))
    { }

    // What a save did to the files: every file holds its part of the list, no file changed, or
    // a file could not be put in place after others were (a folder changed under the save), so
    // that the files hold neither the list nor what they held before.
    enum class Written { All, Nothing, Part };

    // One file as the store's list was read from it: its content, whether that is no JSON
    // object, whether it holds packs the loader leaves out, its object without the packs, and the
    // packs it loaded from it in their order.
    struct ReadFile
    {
        QByteArray content;
        bool damaged = false;
        bool holdsUnloaded = false;
        QJsonObject object;
        QList<CurvePack> packs;
    };

    // The list was read from these files (by path) and from no other: what a save changes is
    // reckoned from them. Returns a sentence for the user for each file that was read empty
    // after it held packs, whose packs are out of sight.
    QStringList listWasRead(const QHash<QString, ReadFile> &files);

    // The file at `from` is now at `to` (a project renamed).
    void renamed(const QString &from, const QString &to);

    // The store deleted the file at `path` (a project deleted).
    void deleted(const QString &path);

    // The packs last read from files that were emptied, deleted or made unreadable since.
    QList<CurvePack> packsOutOfSight() const;

    // Whether a file the store reads may hold packs the list does not show: some are out of
    // sight, or a file it read (or last wrote) holding a JSON object is now missing, or one of
    // `blankNow` (files found empty now) was not read empty.
    bool mayHoldUnseenPacks(const QStringList &blankNow) const;

    // Why the file at `path` may not be deleted (a sentence for the user), or empty: it must
    // hold, by its content, what the store read or wrote there, and be a JSON object or a file
    // read empty (see above).
    QString deletionProblem(const QString &path) const;

    // Writes `packs` to their project files and the rest to the root file; the packs of
    // `replacements` took the places of others. `contents` receives, by path, the object (its
    // packs left out) of every project file the save wrote.
    Written save(const QList<CurvePack> &packs, QHash<QString, QJsonObject> *contents,
                 const store::Replacements &replacements = {});

    // Writes the project file at `path`: `settings` (its keys other than the packs) with those of
    // `packs` that belong to `project`, and what another program put there since the store read
    // it.
    Written saveProjectFile(const QString &path, const QJsonObject &settings,
                            const QList<CurvePack> &packs, const QString &project);

    // Whether the user was told why the last save wrote nothing (a file it would have made too
    // large to be read back, a change another program's met, say).
    bool toldWhy() const { return toldWhy_; }

    // Whether the last save found that another program had changed a file since the store read
    // it: the files may then hold what the list does not.
    bool metOtherWriters() const { return metOtherWriters_; }

    // The capture and points files the packs of the file at `path` name, where the last save
    // wrote that file and it still holds what it wrote (its bytes are compared); nothing
    // otherwise. Spares reading back what the save has just written.
    std::optional<QSet<QString>> filesNamedInWhatItWrote(const QString &path) const;

    // How many pack texts the saves made so far: one for each pack the first time, then one for
    // each pack that changed.
    quint64 textsMade() const { return lastSerial_; }

private:
    struct KnownFile
    {
        QByteArray content; // as read or written
        bool noObject = false; // empty or damaged when read: it held no JSON object
        bool holdsUnloaded = false; // which the next save drops (see ReadFile)
        QJsonObject object; // without the packs
        // What the list was made from: the packs read, or those the list held at the last save
        // that wrote the file (the file may hold others' packs besides).
        QList<CurvePack> packs;
        // The serial numbers of the texts of the list's packs it holds, once known: the same
        // numbers mean the same packs. A number is never given twice, where the address of a
        // text that went could be given to a new one and make a changed file look unchanged.
        std::optional<QList<quint64>> texts;
        // Its content is the store's own text of its object and packs.
        bool ownText = false;
    };
    struct Planned;
    struct PackText
    {
        CurvePack pack;
        QString identity;
        QByteArray text;
        quint64 serial = 0;
    };

    // Brings `texts_` up to `packs`, keeping the text of every pack that did not change.
    void updateTexts(const QList<CurvePack> &packs);
    PackText textFor(const CurvePack &pack, const PackText *earlier);
    // One field of the texts of the packs the planned file is to hold, in its order.
    template<typename Field>
    QList<Field> plannedField(const Planned &planned, Field PackText::*field) const;
    // Whether the file, as known, holds the packs planned for it, whose texts' serial numbers
    // are `serials`.
    bool holdsItsPacks(const KnownFile &known, const Planned &planned,
                       const QList<quint64> &serials) const;
    // Whether the planned file must be written: what it is to hold differs from what was read.
    bool needsWriting(Planned &planned);
    // Reads the planned file as it is now and works out the text it is to hold. False when the
    // change cannot be applied to it (`refusal` says why).
    bool prepare(Planned &planned);
    // The text of the planned file from the store's own texts of its packs.
    void prepareOwnText(Planned &planned, const KnownFile &known);
    // Why a file found cannot be written over, in words that tell the user what to do, and
    // whether that may be another program's write in progress (else the file cannot be read).
    struct Unwritable
    {
        QString sentence;
        bool anotherProgramsWrite = true;
    };
    std::optional<Unwritable> unwritable(const Planned &planned, const KnownFile *known) const;
    // Notes which files went out of sight since the list was last read (see listWasRead).
    QStringList noteOutOfSight(const QHash<QString, ReadFile> &files);
    // Whether the store read the file at `path` empty and found it so since, and it held no
    // packs before: a file of the store's to write.
    bool readEmpty(const QString &path, const KnownFile &known) const;
    // Writes the files together, in the order given, preparing them again while other programs
    // change them under the save.
    Written writeTogether(const QList<Planned *> &files);
    // Writes the prepared files beside their places and puts them in place; nothing when a file
    // changed while the save wrote its own (they are prepared again then).
    std::optional<Written> stageAndCommit(const QList<Planned *> &files,
                                          const store::TellUser &tellWhy);
    // Notes that the planned file now holds its text.
    void noteWritten(Planned &file);

    store::TellUser tellUser_;
    QHash<QString, KnownFile> files_;
    // The packs last read from each file that was emptied, deleted or made unreadable since.
    QHash<QString, QList<CurvePack>> outOfSight_;
    store::Replacements replacements_; // of the save under way
    // The files the last save wrote, with the capture and points files their packs name.
    QHash<QString, QSet<QString>> namedInWritten_;
    QList<PackText> texts_; // the packs of the last save, in list order
    quint64 lastSerial_ = 0;
    bool toldWhy_ = false;
    bool metOtherWriters_ = false;
};
